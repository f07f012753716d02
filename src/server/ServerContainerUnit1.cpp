#include "server/ServerContainerUnit1.h"

#include "log/ClientText.h"
#include "log/EventLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QThread>
#include <boost/asio/post.hpp>

#include <thread>
#include <stdexcept>

namespace krp {

namespace {

QString withSeparator(const QString& dir)
{
    if (dir.isEmpty() || dir.endsWith(QLatin1Char('/')) || dir.endsWith(QDir::separator()))
        return dir;
    return dir + QLatin1Char('/');
}

session::SessionManagerOptions sessionOptions(const ServerContainerOptions& options)
{
    session::SessionManagerOptions o;
    o.idleLimit = options.sessionIdleLimit;
    o.maxSessions = options.maxSessions;
    o.maxSessionsPerAddress = options.maxSessionsPerAddress;
    o.maxWaitingCalls = options.maxWaitingCalls;
    o.onEventError = [](const std::string& message) { DSServer1Error(QString::fromStdString(message)); };
    return o;
}

// What the log and the health answer say of the journal; empty when it opened as it should.
QString journalStateText(const session::KeyedCallJournal& journal)
{
    using State = session::KeyedCallJournal::State;
    const QString file = QString::fromStdString(journal.file());
    const QString problem = QString::fromStdString(journal.problem());
    switch (journal.state()) {
    case State::Opened: return {};
    case State::Created: return QStringLiteral("Toistojen kirjanpitoa ei löytynyt, aloitettiin uusi: ") + file;
    case State::Replaced:
        return problem + QStringLiteral(
                             ". Palvelu jatkaa uudella kirjanpidolla; sitä ennen lähetettyjen kutsujen "
                             "toistot ajetaan kuin uudet kutsut.");
    case State::InMemory: return problem.isEmpty() ? QString() : problem + QLatin1Char('.');
    }
    return {};
}

}  // namespace

TServerContainer1::TServerContainer1(ServiceContext& service, const QString& certificateDir,
                                     ServerContainerOptions options)
    : options_(options), sessions_(std::make_unique<session::SessionManager>(sessionOptions(options))),
      journal_(std::make_unique<session::KeyedCallJournal>(
          session::KeyedCallJournalOptions{options.keyedCallJournal, options.keyedCallsKeptFor})),
      workers_(options.workerThreads == 0 ? 1 : options.workerThreads),
      endpoint_(
          *sessions_, service, [this](std::function<void()> work) { workers_.post(std::move(work)); }, options.methods,
          options.loginThrottle),
      DSHTTPService1([this](transport::HttpRequest&& r, transport::Respond respond) {
          endpoint_.handle(std::move(r), std::move(respond));
      })
{
    certificateFile_ = withSeparator(certificateDir) + QStringLiteral("test.pem");
    keyFile_ = withSeparator(certificateDir) + QStringLiteral("test.key");
    endpoint_.operations().setMetricsReaders(options_.metricsReaders);
    endpoint_.console().setReaders(options_.consoleReaders);
    endpoint_.console().setSources({options_.clients, nullptr});
    endpoint_.setKeyedCalls(journal_.get());
    const QString journalNote = journalStateText(*journal_);
    endpoint_.operations().setJournalNote(journalNote.toStdString());
    if (!journalNote.isEmpty())
        TekstiLokiin(journalNote);
    DataModuleCreate();
}

TServerContainer1::~TServerContainer1()
{
    stop();
    workers_.join();  // calls cut by the stop's deadline end here
}

void TServerContainer1::DataModuleCreate()
{
    // The session listener: the created line waits a moment so the connect event has stored
    // the client's address by then; the closed line is written at once.
    const auto delay = options_.sessionCreatedLogDelay;
    sessions_->addListener([delay](session::SessionEvent type, session::Session& s) {
        if (type == session::SessionEvent::Created) {
            s.scheduleOnce(delay, [](session::Session& created) {
                appendStampedLineLocked(QStringLiteral("Yhteys muodostettu: ") +
                                        QString::fromStdString(created.data("RemoteHost")));
            });
        } else if (type == session::SessionEvent::Closed) {
            appendStampedLineLocked(QStringLiteral("Yhteys katkaistu: ") +
                                    QString::fromStdString(s.data("RemoteHost")));
        }
    });
}

void TServerContainer1::start()
{
    if (isStarted())
        return;
    if (port_ < 0 || port_ > 65535)
        throw std::runtime_error("Portti " + std::to_string(port_) + " ei kelpaa: anna numero väliltä 1-65535.");
    transport::HttpsServerOptions o;
    o.address = options_.address;
    o.port = static_cast<std::uint16_t>(port_);
    o.certificateFile = certificateFile_.toStdString();
    o.keyFile = keyFile_.toStdString();
    o.maxConnections = options_.maxConnections;
    o.maxConnectionsPerAddress = options_.maxConnectionsPerAddress;
    o.handshakeTimeout = options_.handshakeTimeout;
    o.maxBodyMemoryBytes = options_.maxBodyMemoryBytes;
    o.checkHead = [this](const transport::HttpRequest& r) { return endpoint_.checkHead(r); };
    o.onRefusedConnection = [](const std::string& address, bool addressFull) {
        // Reported at most once a minute per address; handed to the main thread, no lock.
        TekstiLokiin(QStringLiteral("Yhteys torjuttu osoitteesta ") + QString::fromStdString(address) +
                     (addressFull ? QStringLiteral(": osoitteesta on jo enimmäismäärä yhteyksiä auki.")
                                  : QStringLiteral(": palvelimella on jo enimmäismäärä yhteyksiä auki.")));
    };
    o.onBodyMemoryFull = [this](const std::string& address, bool addressFull) {
        bodyMemoryLog_.note(
            QStringLiteral("Pyyntö torjuttu osoitteesta ") + QString::fromStdString(address) +
            (addressFull ? QStringLiteral(" (503): osoitteen pyyntöjen rungot täyttävät jo sen osuuden muistista.")
                         : QStringLiteral(" (503): pyyntöjen rungot täyttävät jo niille varatun muistin.")));
    };
    o.onConnectionFault = [this](const std::string& what) {
        connectionFaultLog_.note(QStringLiteral("Yhteys katkaistiin virheen vuoksi: ") +
                                 logSafe(QString::fromStdString(what)));
    };
    endpoint_.resume();
    DSHTTPService1.start(o);
    endpoint_.console().serving(DSHTTPService1.port());
}

void TServerContainer1::beginStop()
{
    DSHTTPService1.stopAccepting();
    endpoint_.beginStop();
}

bool TServerContainer1::isDrained() const
{
    return DSHTTPService1.requestsInFlight() == 0;
}

void TServerContainer1::finishStop()
{
    const auto ms = options_.stopDeadline.count();
    const QString deadline = ms % 1000 == 0 ? QStringLiteral("%1 s").arg(ms / 1000) : QStringLiteral("%1 ms").arg(ms);
    for (const std::string& call : endpoint_.runningCalls())
        TekstiLokiin(QStringLiteral("Pysäytys: kutsu ei valmistunut määräajassa (%1) ja katkaistiin: %2")
                         .arg(deadline, QString::fromStdString(call)));
    DSHTTPService1.stop();
    sessions_->closeAll();
    sessions_->waitForEvents();
}

void TServerContainer1::stop()
{
    if (!isStarted()) {
        sessions_->closeAll();
        sessions_->waitForEvents();
        return;
    }
    beginStop();
    const auto deadline = std::chrono::steady_clock::now() + options_.stopDeadline;
    const bool mainThread =
        QCoreApplication::instance() != nullptr && QThread::currentThread() == QCoreApplication::instance()->thread();
    while (!isDrained() && std::chrono::steady_clock::now() < deadline) {
        if (mainThread)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    finishStop();
}

}  // namespace krp
