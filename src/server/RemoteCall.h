#pragma once
// One call of a session (a method or a provider fetch) from its route to its answer, in named
// steps:
//
//   start      find the caller's session (401) and ask for its turn (429 when too many wait)
//   onTurn     the turn came: run here on the I/O thread, or hand the call to a worker
//   onWorker   on the worker: 503 when the stop began meanwhile, otherwise run
//   run        the method (a keyed one remembered for repeats) or the provider's rows; every
//              failure becomes its answer here (answers::failureAnswer)
//   finish     answer, then end the session's turn so that its next call may start
//
// The turn is held from onTurn to finish; should the call go without finishing (a worker
// pool that drops its queue), its destructor ends the turn.
#include "methods/MethodModule.h"
#include "server/KeyedCall.h"
#include "server/LogThrottle.h"
#include "server/session/SessionManager.h"
#include "server/transport/HttpMessage.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace krp {

// The calls running on workers, each as "method (address)", for the log of a stop that cut them.
class RunningCalls {
public:
    std::uint64_t add(std::string label);
    void remove(std::uint64_t number);
    std::vector<std::string> labels() const;

private:
    mutable std::mutex mutex_;
    std::map<std::uint64_t, std::string> running_;
    std::uint64_t next_ = 0;
};

// What every call shares: the endpoint's sessions, workers and state.
struct CallServices {
    session::SessionManager& sessions;
    std::function<void(std::function<void()>)> blocking;  // hands work to a worker
    const std::atomic<bool>& stopping;
    RunningCalls& running;
    const KeyedCalls& keyed;
    LogThrottle& busyLog;
};

class RemoteCall : public std::enable_shared_from_this<RemoteCall> {
public:
    // POST /api/v1/methods/{method}: `info` is the method's table entry (nullptr for an unknown
    // name, answered 404 in the session's turn); `key` its Idempotency-Key.
    static void method(CallServices& services, const std::string& bearer, std::string method,
                       const protocol::MethodInfo* info, std::optional<std::string> key, std::string body,
                       transport::Respond respond);
    // GET /api/v1/providers/{provider}: the rows were read in full when the query opened.
    static void provider(CallServices& services, const std::string& bearer, std::string provider,
                         transport::Respond respond);

    ~RemoteCall();

private:
    enum class Kind { Method, Provider };
    RemoteCall(CallServices& services, Kind kind, std::string name, transport::Respond respond);

    void start(const std::string& bearer);
    void onTurn();
    void onDropped();
    void onWorker();
    transport::HttpResponse run();
    transport::HttpResponse runMethod(session::Session& session, SessionModule& module);
    void finish(transport::HttpResponse answer);
    void endTurn();
    std::string label() const;

    CallServices& services_;
    Kind kind_;
    std::string name_;
    const protocol::MethodInfo* info_ = nullptr;
    std::optional<std::string> key_;
    std::string body_;
    transport::Respond respond_;
    std::shared_ptr<session::Session> session_;
    std::atomic<bool> holdsTurn_{false};
};

}  // namespace krp
