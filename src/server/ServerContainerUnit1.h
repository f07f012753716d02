#pragma once
// TServerContainer1: the remote-method server with its HTTPS transport, the session listener
// and the certificate files. The window starts and stops it; the container never does.
#include "server/RemoteEndpoint.h"
#include "methods/ServiceContext.h"
#include "server/session/SessionManager.h"
#include "server/transport/HttpsServer.h"

#include <QString>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace krp {

struct ServerContainerOptions {
    std::string address = "0.0.0.0";
    std::chrono::milliseconds sessionIdleLimit = std::chrono::minutes(20);
    std::chrono::milliseconds sessionCreatedLogDelay{1000};
    unsigned workerThreads = 16;
    // Who answers POST /api/v1/methods/{Method}; empty: the published methods of
    // TServerMethods1. Tests put methods of their own in front of those.
    MethodDispatcher methods;
    // Limits against hostile and careless clients (asetukset.ini, [Rajat]).
    std::size_t maxConnections = 4096;          // open client connections in all
    std::size_t maxConnectionsPerAddress = 64;  // of them from one client address
    std::chrono::milliseconds handshakeTimeout{5'000};
    std::size_t maxBodyMemoryBytes = std::size_t{256} * 1024 * 1024;
    LoginThrottleOptions loginThrottle;
};

class TServerContainer1 {
public:
    // DataModuleCreate: the certificate files are `certificateDir` + "test.pem" / "test.key";
    // the session listener is registered.
    TServerContainer1(ServiceContext& service, std::function<db::Query&()> windowQuery,
                      const QString& certificateDir, ServerContainerOptions options = {});
    ~TServerContainer1();

    // The port of DSHTTPService1, set before every start (built-in 14002). Port 0 listens on
    // any free port (tests; the window refuses 0 before it gets here): see listeningPort().
    void setPort(int port) { port_ = port; }
    int port() const { return port_; }
    std::uint16_t listeningPort() const { return DSHTTPService1.port(); }

    // DSServer1: start raises an operator-readable error (missing certificate, port in use)
    // and leaves the server stopped; stop ends every client session (each logs its closed
    // line) before it returns.
    void start();
    void stop();
    bool isStarted() const { return DSHTTPService1.isStarted(); }

    session::SessionManager& sessions() { return *sessions_; }
    const QString& certificateFile() const { return certificateFile_; }
    const QString& keyFile() const { return keyFile_; }

private:
    void DataModuleCreate();

    ServerContainerOptions options_;
    QString certificateFile_;
    QString keyFile_;
    int port_ = 14002;
    std::unique_ptr<session::SessionManager> sessions_;
    RemoteEndpoint endpoint_;
    transport::HttpsServer DSHTTPService1;
};

}  // namespace krp
