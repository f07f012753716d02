#include "server/ServerContainerUnit1.h"

#include "log/EventLog.h"

#include <QDir>
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
    o.onEventError = [](const std::string& message) { DSServer1Error(QString::fromStdString(message)); };
    return o;
}

}  // namespace

TServerContainer1::TServerContainer1(ServiceContext& service, std::function<db::Query&()> windowQuery,
                                     const QString& certificateDir, ServerContainerOptions options)
    : options_(options),
      sessions_(std::make_unique<session::SessionManager>(sessionOptions(options))),
      endpoint_(*sessions_, service, std::move(windowQuery), options.methods, options.loginThrottle),
      DSHTTPService1([this](const transport::HttpRequest& r) { return endpoint_.handle(r); })
{
    certificateFile_ = withSeparator(certificateDir) + QStringLiteral("test.pem");
    keyFile_ = withSeparator(certificateDir) + QStringLiteral("test.key");
    DataModuleCreate();
}

TServerContainer1::~TServerContainer1()
{
    stop();
}

void TServerContainer1::DataModuleCreate()
{
    // The session listener: the created line waits a moment so the connect event has stored
    // the client's address by then; the closed line is written at once.
    const auto delay = options_.sessionCreatedLogDelay;
    sessions_->addListener([delay](session::SessionEvent type, session::Session& s) {
        if (type == session::SessionEvent::Created) {
            s.scheduleOnce(delay, [](session::Session& created) {
                appendStampedLineLocked(QStringLiteral("Yhteys muodostettu: ")
                                        + QString::fromStdString(created.data("RemoteHost")));
            });
        } else if (type == session::SessionEvent::Closed) {
            appendStampedLineLocked(QStringLiteral("Yhteys katkaistu: ") + QString::fromStdString(s.data("RemoteHost")));
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
    o.workerThreads = options_.workerThreads;
    o.maxConnections = options_.maxConnections;
    o.maxConnectionsPerAddress = options_.maxConnectionsPerAddress;
    o.handshakeTimeout = options_.handshakeTimeout;
    o.maxBodyMemoryBytes = options_.maxBodyMemoryBytes;
    o.checkHead = [this](const transport::HttpRequest& r) { return endpoint_.checkHead(r); };
    o.onRefusedConnection = [](const std::string& address, bool addressFull) {
        // Reported at most once a minute per address; handed to the main thread, no lock.
        TekstiLokiin(QStringLiteral("Yhteys torjuttu osoitteesta ") + QString::fromStdString(address)
                     + (addressFull ? QStringLiteral(": osoitteesta on jo enimmäismäärä yhteyksiä auki.")
                                    : QStringLiteral(": palvelimella on jo enimmäismäärä yhteyksiä auki.")));
    };
    DSHTTPService1.start(o);
}

void TServerContainer1::stop()
{
    DSHTTPService1.stop();
    sessions_->closeAll();
    sessions_->waitForEvents();
}

}  // namespace krp
