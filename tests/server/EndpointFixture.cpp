#include "EndpointFixture.h"

#include "support/QtTestApp.h"
#include "log/EventLog.h"
#include "methods/PublishedMethods.h"
#include "methods/ServerMethodsUnit1.h"

#include <QThread>

#include <stdexcept>
#include <thread>

namespace krp::test {

namespace {

// Methods of the test, reached through the session's dispatcher beside the published ones.
struct TestMethods {
    TServerMethods1& module;
    Overlap& overlap;
    Gate& gate;

    QString KaikuTeksti(const QString& text) { return text; }
    types::TTyo KaikuTyo(const std::optional<types::TTyo>& tyo) { return tyo.value_or(types::TTyo{}); }
    types::TTyoaikakirjaus KaikuTyoaikakirjaus(const std::optional<types::TTyoaikakirjaus>& k)
    {
        return k.value_or(types::TTyoaikakirjaus{});
    }
    std::optional<types::TObjectList<types::TKerailyrivi>> KaikuKerailyrivit(
        const std::optional<types::TObjectList<types::TKerailyrivi>>& rivit)
    {
        return rivit;
    }
    void Virhe(const QString& message) { throw std::runtime_error(message.toStdString()); }
    void AvaaTuotelista(std::int32_t n)
    {
        module.sqlTuotelista.setSql(
            {QStringLiteral("SELECT NRO, NIMI, HINTA FROM TUOTTEET WHERE NRO<=:n ORDER BY NRO")});
        module.sqlTuotelista.param(QStringLiteral("n")).setInteger(n);
        module.sqlTuotelista.open();
    }
    std::int32_t Vuoro(std::int32_t tag)
    {
        const int now = ++overlap.running;
        int most = overlap.most.load();
        while (now > most && !overlap.most.compare_exchange_weak(most, now)) {}
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        --overlap.running;
        return tag;
    }
    std::int32_t Odota(std::int32_t ms)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return ++overlap.odotaRuns;
    }
    std::int32_t Portti(std::int32_t tag)
    {
        std::unique_lock lock(gate.mutex);
        ++gate.waiting;
        gate.changed.notify_all();
        gate.changed.wait_for(lock, std::chrono::seconds(10), [&] { return gate.open; });
        --gate.waiting;
        return tag;
    }
};

const protocol::MethodRegistry<TestMethods>& testMethods()
{
    static const auto registry = [] {
        protocol::MethodRegistry<TestMethods> r;
        r.add("KaikuTeksti", &TestMethods::KaikuTeksti, {"teksti"});
        r.add("KaikuTyo", &TestMethods::KaikuTyo, {"Tyo"});
        r.add("KaikuTyoaikakirjaus", &TestMethods::KaikuTyoaikakirjaus, {"kirjaus"});
        r.add("KaikuKerailyrivit", &TestMethods::KaikuKerailyrivit, {"Rivit"});
        r.add("Virhe", &TestMethods::Virhe, {"viesti"});
        r.add("AvaaTuotelista", &TestMethods::AvaaTuotelista, {"n"});
        r.add("Vuoro", &TestMethods::Vuoro, {"tag"});
        r.add("Odota", &TestMethods::Odota, {"ms"});
        r.add("Portti", &TestMethods::Portti, {"tag"});
        return r;
    }();
    return registry;
}

// A session's module: the test's methods in front of the published ones.
class TestSession : public SessionModule {
public:
    TestSession(ServiceContext& service, Overlap& overlap, Gate& gate) : module_(service), test_{module_, overlap, gate}
    {
    }
    protocol::CallResult call(std::string_view method, std::string_view body,
                              const protocol::MethodErrorHandler& onError) override
    {
        if (testMethods().contains(method))
            return testMethods().call(test_, method, body, onError);
        return publishedMethods().call(module_, method, body, onError);
    }
    db::Query* provider(std::string_view name) override
    {
        return module_.provider(QString::fromUtf8(name.data(), name.size()));
    }

private:
    TServerMethods1 module_;
    TestMethods test_;
};

class TestModule : public MethodModule {
public:
    TestModule(Overlap& overlap, Gate& gate) : overlap_(overlap), gate_(gate)
    {
        all_ = publishedModule().methods();
        all_.insert(all_.end(), testMethods().methods().begin(), testMethods().methods().end());
    }
    std::shared_ptr<SessionModule> create(ServiceContext& service) const override
    {
        return std::make_shared<TestSession>(service, overlap_, gate_);
    }
    const protocol::MethodInfo* find(std::string_view method) const override
    {
        const protocol::MethodInfo* test = testMethods().find(method);
        return test ? test : publishedModule().find(method);
    }
    const std::vector<protocol::MethodInfo>& methods() const override { return all_; }

private:
    Overlap& overlap_;
    Gate& gate_;
    std::vector<protocol::MethodInfo> all_;
};

}  // namespace

EndpointFixture::EndpointFixture() : erp(dir.path())
{
    erp.createSettingsTable(QStringLiteral("ASETUS"));
    erp.exec({
        QStringLiteral("CREATE TABLE MYYJAPER (MP_KAYTTAJATUNNUS VARCHAR(30), MP_SALASANA VARCHAR(30))"),
        QStringLiteral("INSERT INTO MYYJAPER VALUES ('MATTI', 'Salainen1')"),
        QStringLiteral("INSERT INTO MYYJAPER VALUES ('TYHJA', '')"),
        QStringLiteral("CREATE TABLE TUOTTEET (NRO INTEGER, NIMI VARCHAR(40), HINTA DOUBLE)"),
        QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
                       "INSERT INTO TUOTTEET SELECT i, 'Tuote nro ' || i || ' äö', i * 1.25 FROM n"),
    });
    setAccessCode(kPaasykoodi);
    start(db::parseDatabaseField(erp.field(), QString(), QString()));
}

EndpointFixture::EndpointFixture(const db::ConnectionSettings& erpDatabase) : erp(dir.path())
{
    start(erpDatabase);
}

void EndpointFixture::start(const db::ConnectionSettings& erpDatabase)
{
    qtApp();
    logStart_ = EventLog::instance()->lineCount();
    database.open(erpDatabase);

    registry = std::make_unique<ClientRegistry>([this](const Yhteysnakyma& v) {
        view = v;
        ++viewUpdates;
    });
    context.database = &database;
    context.ping = [this](const QString& s, const QString& id) { registry->postPing(s, id); };
    context.sovellusSuljetaan = [this](const QString& s, const QString& id) { registry->postSovellusSuljetaan(s, id); };

    const ServerContainerOptions options = containerOptions();
    container =
        std::make_unique<TServerContainer1>(context, QString::fromStdString(certificate.directory().string()), options);
    container->setPort(0);
    container->start();
}

EndpointFixture::~EndpointFixture()
{
    gate.release();
    container->stop();
    container.reset();
    pumpBriefly(50);  // lines handed over by the last sessions
    database.close();
}

client::KrpClientOptions EndpointFixture::clientOptions() const
{
    client::KrpClientOptions o;
    o.transport.host = "127.0.0.1";
    o.transport.port = container->listeningPort();
    o.transport.verifyPeer = true;
    o.transport.caFile = certificate.certificateFile();
    return o;
}

client::ConnectProperties EndpointFixture::validClient() const
{
    return {"Kairanet", kPaasykoodi.toStdString(), kKayttaja.toStdString(), kSalasana.toStdString()};
}

std::unique_ptr<client::KrpClient> EndpointFixture::openClient()
{
    auto c = std::make_unique<client::KrpClient>(clientOptions());
    c->openSession(validClient());
    return c;
}

void EndpointFixture::setAccessCode(const std::optional<QString>& code)
{
    const QString name = QStringLiteral("Mobiilisovellusten pääsykoodi");
    if (code) {
        erp.setSetting(QStringLiteral("ASETUS"), name, *code);
    } else {
        erp.exec({QStringLiteral("DELETE FROM ASETUS WHERE ASETUS='%1'").arg(name)});
    }
}

bool EndpointFixture::pumpUntil(const std::function<bool()>& done)
{
    return processEventsUntil(done, 30000);
}

void EndpointFixture::pumpBriefly(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

QStringList EndpointFixture::logLines() const
{
    return EventLog::instance()->lines().mid(logStart_);
}

int EndpointFixture::findLog(const QString& message, int from) const
{
    const QStringList lines = logLines();
    for (int i = std::max(from, 0); i < lines.size(); ++i) {
        if (lines[i].endsWith(QStringLiteral(": ") + message))
            return i;
    }
    return -1;
}

int EndpointFixture::countLog(const QString& message) const
{
    int n = 0;
    for (const QString& line : logLines())
        n += line.endsWith(QStringLiteral(": ") + message) ? 1 : 0;
    return n;
}

int EndpointFixture::waitForLog(const QString& message, int from)
{
    int index = -1;
    pumpUntil([&] { return (index = findLog(message, from)) >= 0; });
    return index;
}

ServerContainerOptions EndpointFixture::containerOptions()
{
    ServerContainerOptions options;
    options.address = "127.0.0.1";
    options.workerThreads = 4;
    if (!methods)
        methods = std::make_unique<TestModule>(overlap, gate);
    options.methods = methods.get();
    return options;
}

void EndpointFixture::replaceContainer(const std::function<void(ServerContainerOptions&)>& adjust, bool samePort)
{
    const int port = samePort ? container->listeningPort() : 0;
    container->stop();
    container.reset();
    ServerContainerOptions options = containerOptions();
    adjust(options);
    container =
        std::make_unique<TServerContainer1>(context, QString::fromStdString(certificate.directory().string()), options);
    container->setPort(port);
    container->start();
}

void EndpointFixture::restartContainer()
{
    container->stop();
    container->start();
}

}  // namespace krp::test
