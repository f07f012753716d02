#pragma once
// Inside a session: what the manager keeps for it. Not for the application.
#include "server/session/Session.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace krp::session {

struct Session::State {
    using Strand = boost::asio::strand<boost::asio::thread_pool::executor_type>;

    State(SessionManager& manager_, Strand strand_) : manager(manager_), strand(std::move(strand_)) {}

    SessionManager& manager;  // outlives every open session
    Strand strand;            // the session's events run here, one at a time
    Session* self = nullptr;

    mutable std::mutex mutex;
    std::map<std::string, std::string, std::less<>> data;
    std::shared_ptr<void> object;
    bool open = true;

    // Calls run one after the other in the order they asked for their turn. A call waiting
    // for its turn is only an entry here: it holds no thread.
    struct WaitingCall {
        std::function<void()> start;
        std::function<void()> drop;
    };
    std::deque<WaitingCall> waiting;
    bool running = false;
    bool closedEventDue = false;  // closed during a call: the call posts the closed event
    std::chrono::steady_clock::time_point lastUsed = std::chrono::steady_clock::now();

    std::vector<std::shared_ptr<boost::asio::steady_timer>> timers;  // one-shot events not yet due
};

}  // namespace krp::session
