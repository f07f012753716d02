#pragma once
// The deadline of a connection's current step (handshake, waiting for a request, reading its
// body, writing the answer): when it passes, the socket is closed and the step's operation ends
// with operation_aborted. Moving the deadline is cheap: one timer wait is outstanding at most,
// and it is set again only when the new deadline is earlier than the wait's; a wait that wakes
// before the deadline simply waits again. Used on the connection's strand only.
#include "server/transport/TlsStream.h"

#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <memory>

namespace krp::transport {

class SocketDeadline {
public:
    using Clock = std::chrono::steady_clock;

    explicit SocketDeadline(StrandSocket& socket) : socket_(socket), timer_(socket.get_executor()) {}

    // The object that owns this deadline; a pending wait keeps only a weak reference to it, so
    // a connection that has ended is not kept until its deadline.
    void attach(std::weak_ptr<void> owner) { owner_ = std::move(owner); }

    void expiresAfter(Clock::duration after)
    {
        deadline_ = Clock::now() + after;
        if (!waiting_ || timer_.expiry() > deadline_)
            wait(deadline_);
    }

    void expiresNever() { deadline_ = Clock::time_point::max(); }

    void cancel()
    {
        deadline_ = Clock::time_point::max();
        if (waiting_) {
            waiting_ = false;
            ++generation_;
            timer_.cancel();
        }
    }

private:
    void wait(Clock::time_point until)
    {
        timer_.expires_at(until);
        waiting_ = true;
        timer_.async_wait([this, owner = owner_, generation = ++generation_](const boost::system::error_code& ec) {
            const auto alive = owner.lock();
            if (!alive || generation != generation_)
                return;  // gone, cancelled, or replaced by an earlier deadline
            waiting_ = false;
            if (ec)
                return;
            if (Clock::now() >= deadline_) {
                boost::system::error_code ignored;
                socket_.close(ignored);
            } else if (deadline_ != Clock::time_point::max()) {
                wait(deadline_);
            }
        });
    }

    StrandSocket& socket_;
    boost::asio::basic_waitable_timer<Clock, boost::asio::wait_traits<Clock>, Strand> timer_;
    std::weak_ptr<void> owner_;
    Clock::time_point deadline_ = Clock::time_point::max();
    bool waiting_ = false;
    unsigned generation_ = 0;
};

}  // namespace krp::transport
