#pragma once
// The remote endpoint's request handling: the four paths of the wire protocol, between the
// transport (plain HTTP requests) and the sessions' method modules. No sockets here.
//
// A request arrives on its connection's I/O thread and is routed once (Route). A session
// opening goes to a worker (SessionGates); a method call or provider fetch becomes a
// RemoteCall, which waits for its session's turn holding no thread and runs on the I/O thread
// when its method never waits for the database (the method table says which), otherwise on a
// worker, as many at once as the pool has threads.
//
//   POST   /api/v1/session            both gates; opens a session
//   POST   /api/v1/methods/{Method}   one published method in the caller's session
//   GET    /api/v1/providers/{name}   rows a method left open in the session's query
//   DELETE /api/v1/session            ends the caller's session
//
// and, without credentials, the health, metrics and description paths (OperationsEndpoint), and
// the operator console for the listed addresses (ConsoleEndpoint, also during a stop).
#include "methods/MethodModule.h"
#include "methods/ServiceContext.h"
#include "server/ErrorAnswers.h"
#include "server/KeyedCall.h"
#include "server/LogThrottle.h"
#include "server/LoginThrottle.h"
#include "server/RemoteCall.h"
#include "server/Route.h"
#include "server/SessionGates.h"
#include "server/operations/ConsoleEndpoint.h"
#include "server/operations/OperationsEndpoint.h"
#include "server/session/SessionManager.h"
#include "server/transport/HttpMessage.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace krp {

class RemoteEndpoint {
public:
    // Hands work that may block (on the database) to a worker thread.
    using BlockingExecutor = std::function<void(std::function<void()> work)>;

    // The connect checks run on `service`'s database. `module` answers method calls and gives
    // each new session its module; nullptr: the published methods of TServerMethods1.
    RemoteEndpoint(session::SessionManager& sessions, ServiceContext& service, BlockingExecutor blocking,
                   const MethodModule* module = nullptr, LoginThrottleOptions throttle = {});

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
    std::vector<std::string> runningCalls() const { return running_.labels(); }

    OperationsEndpoint& operations() { return operations_; }
    ConsoleEndpoint& console() { return console_; }

    // Where keyed calls that write are remembered across sessions and restarts (set before
    // the start); without a journal every keyed call is kept in its session only. Whether a
    // method writes comes from the module's table.
    void setKeyedCalls(session::KeyedCallJournal* journal) { keyed_.journal = journal; }

    // The transport's head check: runs before a request's body is read, and refuses what
    // needs no body to be refused: a session opening from a locked-out address (429), one
    // without the fixed credentials (401); any other body without an open session of the
    // caller (401), on a path that is not the protocol's (404) or on an operator path (400),
    // so that only a caller who passed a gate holds body memory; nothing during a stop
    // (handle() answers 503 then). Called on the connection's I/O thread; never blocks (the
    // refused gate's locked log line is written on a worker).
    std::optional<transport::HttpResponse> checkHead(const transport::HttpRequest& request);

private:
    std::optional<transport::HttpResponse> refuseHead(const transport::HttpRequest& request, const Route& route);
    void closeSession(const transport::HttpRequest& request, const transport::Respond& respond);
    // Runs `work` on a worker (a session opening, an operator path): 503 when the stop began
    // before it started; listed among the running calls while it runs.
    void onWorker(std::string label, std::function<transport::HttpResponse()> work, transport::Respond respond);

    session::SessionManager& sessions_;
    const MethodModule& module_;
    BlockingExecutor blocking_;
    KeyedCalls keyed_;
    std::atomic<bool> stopping_{false};
    RunningCalls running_;
    LogThrottle busyLog_;
    CallServices calls_;
    SessionGates gates_;
    OperationsEndpoint operations_;
    ConsoleEndpoint console_;
};

}  // namespace krp
