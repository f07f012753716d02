#pragma once
// The remote endpoint's request handling: the four paths of the wire protocol, between the
// transport (plain HTTP requests) and the session's method module. No sockets here.
//
// A request arrives on its connection's I/O thread. What never touches the database (Ping,
// SovellusSuljetaan, TarkistaKayttooikeus, provider fetches of rows already read, closing a
// session) runs right there when its session's turn comes; what may touch it (every other
// method, session opening) goes to the worker pool, as many at once as the pool has threads
// (the database pool's size). A call waiting for its session's turn, or for a worker, holds
// no thread.
//
//   POST   /api/v1/session            both gates; opens a session
//   POST   /api/v1/methods/{Method}   one published method in the caller's session
//   GET    /api/v1/providers/{name}   rows a method left open in the session's query
//   DELETE /api/v1/session            ends the caller's session
//
// and, without credentials, the health, metrics and description paths (OperationsEndpoint), and
// the operator console for the listed addresses (ConsoleEndpoint, also during a stop).
#include "methods/ServiceContext.h"
#include "server/operations/ConsoleEndpoint.h"
#include "server/operations/OperationsEndpoint.h"
#include "server/KeyedCall.h"
#include "server/LoginThrottle.h"
#include "protocol/MethodRegistry.h"
#include "server/session/SessionManager.h"
#include "server/transport/HttpMessage.h"

#include "server/LogThrottle.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace krp {

class TServerMethods1;

// Calls the published method `method` of the session's module with the JSON arguments `body`.
using MethodDispatcher = std::function<protocol::CallResult(TServerMethods1& module, std::string_view method,
                                                            std::string_view body,
                                                            const protocol::MethodErrorHandler& onError)>;

// The published methods of TServerMethods1 (publishedMethods()).
protocol::CallResult callPublishedMethod(TServerMethods1& module, std::string_view method, std::string_view body,
                                         const protocol::MethodErrorHandler& onError);

class RemoteEndpoint {
public:
    // Hands work that may block (on the database) to a worker thread.
    using BlockingExecutor = std::function<void(std::function<void()> work)>;

    // The connect checks run on `service`'s database. `methods` answers method calls; empty:
    // callPublishedMethod.
    RemoteEndpoint(session::SessionManager& sessions, ServiceContext& service, BlockingExecutor blocking,
                   MethodDispatcher methods = {}, LoginThrottleOptions throttle = {});

    // Called on the connection's I/O thread; never blocks. Answers through `respond`, from
    // this or a worker thread.
    void handle(transport::HttpRequest&& request, transport::Respond respond);

    // Serving again after a stop.
    void resume();
    // The stop begins: from now on every request, and every call that has not started (also
    // those waiting for their turn), is answered 503 "Palvelu pysäytetään". Calls running go on.
    void beginStop();
    bool isStopping() const { return stopping_; }
    // The calls running on workers, each as "method (address)".
    std::vector<std::string> runningCalls() const;

    // Methods that never touch the database: they run on the I/O thread.
    static bool runsWithoutDatabase(std::string_view method);

    OperationsEndpoint& operations() { return operations_; }
    ConsoleEndpoint& console() { return console_; }

    // Where keyed calls that write are remembered across sessions and restarts (set before
    // the start); without a journal every keyed call is kept in its session only.
    void setKeyedCalls(KeyedCalls keyed) { keyed_ = std::move(keyed); }

    // The transport's head check: runs before a request's body is read, and refuses what
    // needs no body to be refused: a session opening from a locked-out address (429), one
    // without the fixed credentials (401); any other body without an open session of the
    // caller (401), on a path that is not the protocol's (404) or on an operator path (400),
    // so that only a caller who passed a gate holds body memory; nothing during a stop (handle() answers 503 then). Called on the connection's I/O thread; never blocks (the
    // refused gate's locked log line is written on a worker).
    std::optional<transport::HttpResponse> checkHead(const transport::HttpRequest& request);

private:
    using Work = std::function<transport::HttpResponse(session::Session&, TServerMethods1&)>;

    std::optional<transport::HttpResponse> refuseHead(const transport::HttpRequest& request);
    void openSession(transport::HttpRequest&& request, transport::Respond respond);
    transport::HttpResponse openSessionNow(const transport::HttpRequest& request);
    void closeSession(const transport::HttpRequest& request, const transport::Respond& respond);
    std::optional<transport::HttpResponse> lockedOut(const std::string& address);
    // Counts a failed opening of `address` (logged with the user name it tried: the ERP user's
    // when `erpUser`, else the application credentials') and logs a lock-out that it starts.
    void openingFailed(const std::string& address, const QString& user, bool erpUser);
    // Runs `work` on the module of the session named by the request's bearer id, in that
    // session's turn (on this thread, or on a worker when `blocking`); 401 when there is no
    // such open session, 429 when too many of its calls wait.
    void inCallersSession(const transport::HttpRequest& request, std::string label, bool blocking,
                          Work work, transport::Respond respond);
    // Runs `work` on a worker as a call in flight: 503 when the stop began before it started.
    void onWorker(std::string label, std::function<transport::HttpResponse()> work,
                  transport::Respond respond);

    session::SessionManager& sessions_;
    ServiceContext& service_;
    BlockingExecutor blocking_;
    MethodDispatcher methods_;
    KeyedCalls keyed_;
    std::atomic<bool> stopping_{false};

    mutable std::mutex runningMutex_;
    std::map<std::uint64_t, std::string> running_;  // calls on workers, by number
    std::uint64_t nextCall_ = 0;

    LogThrottle busyLog_;
    LogThrottle sessionCapLog_;
    OperationsEndpoint operations_;
    ConsoleEndpoint console_;
    LoginThrottle throttle_;
};

// 503 "Palvelu pysäytetään" with Retry-After: the answer to requests during a stop.
transport::HttpResponse serviceStopping();

// The server's error event: logs "Server: Tapahtui virhe: " and the message.
void DSServer1Error(const QString& message);

}  // namespace krp
