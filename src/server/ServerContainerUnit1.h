#pragma once
// TServerContainer1: the remote-method server with its HTTPS transport, the session listener
// and the certificate files. The window starts and stops it; the container never does.
#include "server/RemoteEndpoint.h"
#include "log/EventLog.h"
#include "server/LogThrottle.h"
#include "methods/ServiceContext.h"
#include "server/session/KeyedCallJournal.h"
#include "server/session/SessionManager.h"
#include "server/transport/HttpsServer.h"

#include <QString>
#include "server/WorkerPool.h"
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace krp {

struct ServerContainerOptions {
    std::string address = "0.0.0.0";
    std::chrono::milliseconds sessionIdleLimit = std::chrono::minutes(20);
    std::chrono::milliseconds sessionCreatedLogDelay{1000};
    // Threads for what may wait on the database (method calls, session openings): at most
    // this many calls are inside the database at once; further ones wait without a thread.
    unsigned workerThreads = 16;
    std::size_t maxSessions = 10'000;                // open sessions; an opening past it gets 503
    std::size_t maxSessionsPerAddress = 1'000;       // of them opened from one client address
    std::size_t maxWaitingCalls = 8;                 // calls of one session waiting; the next gets 429
    std::chrono::milliseconds stopDeadline{30'000};  // how long a stop lets calls in flight finish
    // The method module of the sessions (who answers POST /api/v1/methods/{Method}); nullptr:
    // the published methods of TServerMethods1. Tests put methods of their own in front of those.
    const MethodModule* methods = nullptr;
    // Addresses besides loopback that may read GET /metrics.
    std::vector<std::string> metricsReaders;
    // The addresses that may read the operator console (/console); nobody when empty.
    std::vector<std::string> consoleReaders = addressList(kDefaultConsoleReaders);
    // What the console shows of the client registry (its latest copy); none: no clients.
    ClientSnapshotSource clients;
    // Limits against hostile and careless clients (asetukset.ini, [Rajat]).
    std::size_t maxConnections = 4096;          // open client connections in all
    std::size_t maxConnectionsPerAddress = 64;  // of them from one client address
    std::chrono::milliseconds handshakeTimeout{5'000};
    std::size_t maxBodyMemoryBytes = std::size_t{256} * 1024 * 1024;
    LoginThrottleOptions loginThrottle;
    // The journal of keyed calls that write (a SQLite file); empty: kept in memory for the
    // container's life. Entries are kept at least `keyedCallsKeptFor`.
    std::string keyedCallJournal;
    std::chrono::hours keyedCallsKeptFor{24};
};

class TServerContainer1 {
public:
    // DataModuleCreate: the certificate files are `certificateDir` + "test.pem" / "test.key";
    // the session listener is registered.
    TServerContainer1(ServiceContext& service, const QString& certificateDir, ServerContainerOptions options = {});
    ~TServerContainer1();

    // The port of DSHTTPService1, set before every start (built-in 14002). Port 0 listens on
    // any free port (tests; the window refuses 0 before it gets here): see listeningPort().
    void setPort(int port) { port_ = port; }
    int port() const { return port_; }
    std::uint16_t listeningPort() const { return DSHTTPService1.port(); }

    // DSServer1: start raises an operator-readable error (missing certificate, port in use)
    // and leaves the server stopped; stop ends every client session (each logs its closed
    // line) before it returns.
    //
    // The stop: no new connections or sessions; calls not started are answered 503
    // "Palvelu pysäytetään"; calls in flight finish and their answers are written, up to
    // stopDeadline (the calls cut by it are named in the log); only then are the connections
    // and sessions closed, at once, whatever the cut calls still wait for. Called on the Qt main
    // thread, stop keeps that thread's events running while it waits (user input excepted, so
    // that nothing starts or stops meanwhile).
    void start();
    void stop();
    // The stop in its steps, for callers that wait in their own way.
    void beginStop();
    bool isDrained() const;
    void finishStop();
    bool isStarted() const { return DSHTTPService1.isStarted(); }
    // Calls a stop gave up on at its deadline that still run on their workers (waiting for the
    // database). They touch only what they share ownership of and the process-long database
    // pool; destroying the container waits for them, ending the process does not.
    std::size_t abandonedCalls() const { return isStarted() ? 0 : endpoint_.runningCalls().size(); }

    session::SessionManager& sessions() { return *sessions_; }
    session::KeyedCallJournal& keyedCallJournal() { return *journal_; }
    const QString& certificateFile() const { return certificateFile_; }
    const QString& keyFile() const { return keyFile_; }

private:
    void DataModuleCreate();

    ServerContainerOptions options_;
    QString certificateFile_;
    QString keyFile_;
    int port_ = 14002;
    std::unique_ptr<session::SessionManager> sessions_;
    std::unique_ptr<session::KeyedCallJournal> journal_;
    WorkerPool workers_;
    RemoteEndpoint endpoint_;
    LogThrottle bodyMemoryLog_{&TekstiLokiin};
    LogThrottle connectionFaultLog_{&TekstiLokiin};
    transport::HttpsServer DSHTTPService1;
};

}  // namespace krp
