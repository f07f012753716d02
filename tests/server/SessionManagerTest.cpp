// Sessions: ids, data, events and their threads, one-shot events, idle expiry, closing, and the
// order of calls within one session.
#include "server/session/SessionManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace krp::session {
namespace {

using namespace std::chrono_literals;

// Records the events a listener receives and lets a test wait for them.
class EventLog {
public:
    struct Entry {
        SessionEvent type;
        std::string id;
        std::string remoteHost;
        std::thread::id thread;
        bool currentIsThisSession;
    };

    SessionManager::Listener listener()
    {
        return [this](SessionEvent type, Session& session) {
            std::lock_guard lock(mutex_);
            entries_.push_back({type, session.id(), session.data("RemoteHost"), std::this_thread::get_id(),
                                Session::current() == &session});
            changed_.notify_all();
        };
    }

    // Waits (at most a generous while, as a guard against a hang) until `count` events of that
    // type have arrived.
    bool waitFor(SessionEvent type, std::size_t count)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 20s, [&] { return countLocked(type) >= count; });
    }

    std::vector<Entry> entries()
    {
        std::lock_guard lock(mutex_);
        return entries_;
    }

    std::size_t count(SessionEvent type)
    {
        std::lock_guard lock(mutex_);
        return countLocked(type);
    }

private:
    std::size_t countLocked(SessionEvent type) const
    {
        return std::count_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.type == type; });
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Entry> entries_;
};

TEST(SessionManagerTest, IdsAreLongRandomAndUnique)
{
    SessionManager manager;
    std::set<std::string> ids;
    for (int i = 0; i < 2000; ++i) {
        const auto id = manager.create()->id();
        EXPECT_GE(id.size() * 6, 128u);
        EXPECT_EQ(id.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
                  std::string::npos);
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 2000u);
    EXPECT_EQ(manager.size(), 2000u);
}

TEST(SessionManagerTest, CreatedAndClosedEventsRunOnEventThreadsWithTheSessionCurrent)
{
    EventLog log;
    SessionManager manager;
    manager.addListener(log.listener());

    const auto session = manager.create();
    const std::string id = session->id();
    manager.call(id, [](Session& s) { s.setData("RemoteHost", "10.1.2.3"); });
    EXPECT_EQ(session->data("RemoteHost"), "10.1.2.3");
    EXPECT_EQ(session->data("Unknown"), "");
    EXPECT_EQ(session->findData("Unknown"), std::nullopt);

    EXPECT_TRUE(manager.close(id));
    EXPECT_FALSE(manager.close(id));
    manager.waitForEvents();

    const auto entries = log.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].type, SessionEvent::Created);
    EXPECT_EQ(entries[1].type, SessionEvent::Closed);
    EXPECT_EQ(entries[1].remoteHost, "10.1.2.3");
    for (const auto& e : entries) {
        EXPECT_EQ(e.id, id);
        EXPECT_NE(e.thread, std::this_thread::get_id());
        EXPECT_TRUE(e.currentIsThisSession);
    }
}

TEST(SessionManagerTest, ClosedOrUnknownSessionCannotBeFoundOrCalled)
{
    SessionManager manager;
    const auto session = manager.create();
    const std::string id = session->id();
    manager.close(id);

    EXPECT_EQ(manager.find(id), nullptr);
    EXPECT_FALSE(session->isOpen());
    bool ran = false;
    EXPECT_THROW(manager.call(id, [&](Session&) { ran = true; }), SessionNotFound);
    EXPECT_THROW(manager.call(*session, [&](Session&) { ran = true; }), SessionNotFound);
    EXPECT_THROW(manager.call("no-such-session", [&](Session&) { ran = true; }), SessionNotFound);
    EXPECT_THROW(manager.call("", [&](Session&) { ran = true; }), SessionNotFound);
    EXPECT_FALSE(ran);
}

TEST(SessionManagerTest, CallReturnsTheResultAndPassesExceptionsWithTheSessionCurrent)
{
    SessionManager manager;
    const auto session = manager.create();
    EXPECT_EQ(Session::current(), nullptr);
    const auto result = manager.call(session->id(), [&](Session& s) {
        EXPECT_EQ(Session::current(), &s);
        // a call of the same session from within runs at once instead of waiting for itself
        return manager.call(s, [](Session&) { return 41; }) + 1;
    });
    EXPECT_EQ(result, 42);
    EXPECT_EQ(Session::current(), nullptr);

    EXPECT_THROW(manager.call(*session, [](Session&) -> int { throw std::logic_error("x"); }), std::logic_error);
    EXPECT_EQ(manager.call(*session, [](Session&) { return std::string("still open"); }), "still open");
}

TEST(SessionManagerTest, OneShotEventRunsOnceAfterItsDelayAndNotAfterClose)
{
    SessionManager manager;
    const auto session = manager.create();
    session->setData("RemoteHost", "10.0.0.9");

    std::promise<std::string> ran;
    std::atomic<int> runs{0};
    const auto scheduledAt = std::chrono::steady_clock::now();
    std::atomic<std::chrono::steady_clock::time_point> ranAt{};
    session->scheduleOnce(50ms, [&](Session& s) {
        ranAt = std::chrono::steady_clock::now();
        if (++runs == 1)
            ran.set_value(s.data("RemoteHost") + (Session::current() == &s ? " current" : ""));
    });
    auto result = ran.get_future();
    ASSERT_EQ(result.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(result.get(), "10.0.0.9 current");
    EXPECT_GE(ranAt.load() - scheduledAt, 50ms);

    bool lateRan = false;
    session->scheduleOnce(10min, [&](Session&) { lateRan = true; });
    manager.close(*session);
    session->scheduleOnce(0ms, [&](Session&) { lateRan = true; });
    manager.waitForEvents();
    EXPECT_EQ(runs.load(), 1);
    EXPECT_FALSE(lateRan);
}

TEST(SessionManagerTest, IdleSessionExpiresWithItsClosedEventButNotDuringACall)
{
    EventLog log;
    SessionManagerOptions options;
    options.idleLimit = 100ms;
    options.sweepInterval = 10ms;
    SessionManager manager(options);
    manager.addListener(log.listener());

    const auto busy = manager.create();
    const bool openThroughout = manager.call(*busy, [&](Session& s) {
        std::this_thread::sleep_for(400ms);  // four idle limits inside one call
        return s.isOpen();
    });
    EXPECT_TRUE(openThroughout);

    const auto idle = manager.create();
    ASSERT_TRUE(log.waitFor(SessionEvent::Closed, 2));
    EXPECT_EQ(manager.find(idle->id()), nullptr);
    EXPECT_EQ(manager.find(busy->id()), nullptr);
    EXPECT_THROW(manager.call(idle->id(), [](Session&) {}), SessionNotFound);
}

TEST(SessionManagerTest, CloseAllClosesEverySessionAndDestroyingTheManagerDoesToo)
{
    EventLog log;
    {
        SessionManager manager;
        manager.addListener(log.listener());
        for (int i = 0; i < 5; ++i)
            manager.create();
        manager.closeAll();
        EXPECT_EQ(manager.size(), 0u);
        manager.waitForEvents();
        EXPECT_EQ(log.count(SessionEvent::Closed), 5u);

        for (int i = 0; i < 3; ++i)
            manager.create();
    }
    EXPECT_EQ(log.count(SessionEvent::Closed), 8u);
}

TEST(SessionManagerTest, ClosedEventWaitsForTheRunningCallAndThenReleasesTheObject)
{
    EventLog log;
    SessionManager manager;
    manager.addListener(log.listener());
    const auto session = manager.create();
    auto object = std::make_shared<int>(7);
    std::weak_ptr<int> watch = object;
    session->setObject(std::move(object));
    EXPECT_EQ(*session->objectAs<int>(), 7);

    std::promise<void> entered, release;
    auto call = std::async(std::launch::async, [&] {
        manager.call(*session, [&](Session&) {
            entered.set_value();
            release.get_future().wait();
        });
    });
    entered.get_future().wait();
    manager.close(*session);
    manager.waitForEvents();
    EXPECT_EQ(log.count(SessionEvent::Closed), 0u) << "closed while the call still runs";
    EXPECT_FALSE(watch.expired());

    release.set_value();
    call.get();
    ASSERT_TRUE(log.waitFor(SessionEvent::Closed, 1));
    manager.waitForEvents();
    EXPECT_TRUE(watch.expired());
}

TEST(SessionManagerTest, CallsOfOneSessionRunOneAtATimeInArrivalOrder)
{
    SessionManager manager;
    const auto session = manager.create();

    std::promise<void> entered, release;
    auto first = std::async(std::launch::async, [&] {
        manager.call(*session, [&](Session&) {
            entered.set_value();
            release.get_future().wait();
        });
    });
    entered.get_future().wait();

    std::mutex orderMutex;
    std::vector<int> order;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::vector<std::future<void>> waiting;
    for (int i = 0; i < 6; ++i) {
        waiting.push_back(std::async(std::launch::async, [&, i] {
            manager.call(*session, [&](Session&) {
                if (inside.fetch_add(1) != 0)
                    overlapped = true;
                std::this_thread::sleep_for(5ms);
                {
                    std::lock_guard lock(orderMutex);
                    order.push_back(i);
                }
                inside.fetch_sub(1);
            });
        }));
        while (session->pendingCalls() < static_cast<std::size_t>(i) + 2)  // queued behind
            std::this_thread::yield();
    }
    release.set_value();
    first.get();
    for (auto& f : waiting)
        f.get();

    EXPECT_FALSE(overlapped);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST(SessionManagerTest, DifferentSessionsRunConcurrently)
{
    SessionManager manager;
    const auto a = manager.create();
    const auto b = manager.create();
    std::promise<void> bRan;
    auto callA = std::async(std::launch::async, [&] {
        // waits inside A's call until B's call has run: a global lock would hang here
        return manager.call(*a, [&](Session&) { return bRan.get_future().wait_for(20s) == std::future_status::ready; });
    });
    manager.call(*b, [&](Session&) { bRan.set_value(); });
    EXPECT_TRUE(callA.get());
}

TEST(SessionManagerTest, WaitingCallsFailWhenTheSessionClosesBeforeTheirTurn)
{
    SessionManager manager;
    const auto session = manager.create();
    std::promise<void> entered, release;
    auto first = std::async(std::launch::async, [&] {
        manager.call(*session, [&](Session& s) {
            entered.set_value();
            release.get_future().wait();
            manager.close(s);  // closing from within its own call does not wait for itself
        });
    });
    entered.get_future().wait();
    auto second = std::async(std::launch::async, [&] { manager.call(*session, [](Session&) {}); });
    while (session->pendingCalls() < 2)
        std::this_thread::yield();
    release.set_value();
    first.get();
    EXPECT_THROW(second.get(), SessionNotFound);
}

TEST(SessionManagerTest, ListenerExceptionIsReportedAndOthersStillRun)
{
    std::mutex mutex;
    std::vector<std::string> errors;
    SessionManagerOptions options;
    options.onEventError = [&](const std::string& message) {
        std::lock_guard lock(mutex);
        errors.push_back(message);
    };
    EventLog log;
    SessionManager manager(options);
    manager.addListener([](SessionEvent, Session&) { throw std::runtime_error("kuuntelija kaatui"); });
    const auto id = manager.addListener(log.listener());
    manager.create();
    manager.waitForEvents();
    EXPECT_EQ(log.count(SessionEvent::Created), 1u);
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0], "kuuntelija kaatui");
    }
    manager.removeListener(id);
    manager.create();
    manager.waitForEvents();
    EXPECT_EQ(log.count(SessionEvent::Created), 1u);
}

}  // namespace
}  // namespace krp::session
