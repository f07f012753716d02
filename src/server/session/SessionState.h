#pragma once
// Inside a session: what the manager keeps for it. Not for the application.
#include "server/session/Session.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace krp::session {

struct Session::State {
    using Strand = boost::asio::strand<boost::asio::thread_pool::executor_type>;

    State(SessionManager& manager_, Strand strand_) : manager(manager_), strand(std::move(strand_)) {}

    SessionManager& manager;  // outlives every open session
    Strand strand;             // the session's events run here, one at a time
    Session* self = nullptr;

    mutable std::mutex mutex;
    std::map<std::string, std::string, std::less<>> data;
    std::shared_ptr<void> object;
    bool open = true;

    // Calls run one after the other in the order they asked for their turn.
    std::condition_variable turn;
    std::uint64_t nextTicket = 0;
    std::uint64_t serving = 0;
    unsigned pending = 0;          // calls waiting or running
    bool running = false;
    bool closedEventDue = false;   // closed during a call: the call posts the closed event
    std::chrono::steady_clock::time_point lastUsed = std::chrono::steady_clock::now();

    std::vector<std::shared_ptr<boost::asio::steady_timer>> timers;  // one-shot events not yet due
};

// Makes `session` the current session of this thread until the scope ends.
class CurrentSessionScope {
public:
    explicit CurrentSessionScope(Session* session);
    ~CurrentSessionScope();
    CurrentSessionScope(const CurrentSessionScope&) = delete;
    CurrentSessionScope& operator=(const CurrentSessionScope&) = delete;

private:
    Session* previous_;
};

}  // namespace krp::session
