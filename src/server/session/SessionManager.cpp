#include "server/session/SessionManager.h"

#include "server/session/SessionId.h"
#include "server/session/SessionState.h"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace krp::session {

namespace net = boost::asio;
using Clock = std::chrono::steady_clock;

namespace {

std::chrono::milliseconds sweepIntervalFor(const SessionManagerOptions& options)
{
    if (options.sweepInterval.count() > 0)
        return options.sweepInterval;
    return std::clamp(options.idleLimit / 20, std::chrono::milliseconds(10), std::chrono::milliseconds(30'000));
}

}  // namespace

struct SessionManager::Impl {
    explicit Impl(SessionManagerOptions options_)
        : options(std::move(options_)), pool(options.eventThreads == 0 ? 1 : options.eventThreads),
          sweeperStrand(net::make_strand(pool)), sweeper(sweeperStrand)
    {
    }

    const SessionManagerOptions options;
    net::thread_pool pool;
    net::strand<net::thread_pool::executor_type> sweeperStrand;
    net::steady_timer sweeper;
    std::atomic<bool> stopping{false};

    mutable std::mutex mutex;  // sessions and listeners
    std::unordered_map<std::string, std::shared_ptr<Session>> sessions;
    std::unordered_map<std::string, std::string> addressOf;  // session id -> address it came from
    std::unordered_map<std::string, std::size_t> byAddress;  // open sessions of an address
    std::vector<std::pair<ListenerId, Listener>> listeners;
    ListenerId nextListenerId = 1;

    std::mutex activityMutex;  // queued events and running calls
    std::condition_variable activityDone;
    std::size_t queuedEvents = 0;
    std::size_t runningCalls = 0;
};

SessionManager::SessionManager(SessionManagerOptions options) : impl_(std::make_unique<Impl>(std::move(options)))
{
    // Idle sessions are looked for on the event threads.
    struct Sweep {
        SessionManager* manager;
        void operator()(boost::system::error_code ec) const
        {
            auto& impl = *manager->impl_;
            if (ec || impl.stopping)
                return;
            manager->closeIdle();
            impl.sweeper.expires_after(sweepIntervalFor(impl.options));
            impl.sweeper.async_wait(*this);
        }
    };
    net::post(impl_->sweeperStrand, [this] {
        impl_->sweeper.expires_after(sweepIntervalFor(impl_->options));
        impl_->sweeper.async_wait(Sweep{this});
    });
}

SessionManager::~SessionManager()
{
    closeAll();
    {
        std::unique_lock lock(impl_->activityMutex);
        impl_->activityDone.wait(lock, [&] { return impl_->runningCalls == 0; });
    }
    impl_->stopping = true;
    net::post(impl_->sweeperStrand, [this] { impl_->sweeper.cancel(); });
    impl_->pool.join();  // the queued closed events run first
}

SessionManager::ListenerId SessionManager::addListener(Listener listener)
{
    std::lock_guard lock(impl_->mutex);
    const ListenerId id = impl_->nextListenerId++;
    impl_->listeners.emplace_back(id, std::move(listener));
    return id;
}

void SessionManager::removeListener(ListenerId id)
{
    std::lock_guard lock(impl_->mutex);
    std::erase_if(impl_->listeners, [id](const auto& entry) { return entry.first == id; });
}

std::shared_ptr<Session> SessionManager::create(const std::string& address)
{
    if (impl_->options.maxSessions > 0 && size() >= impl_->options.maxSessions)
        throw SessionLimitReached("Avoimia istuntoja on jo enimmäismäärä " +
                                  std::to_string(impl_->options.maxSessions) + ".");
    auto state = std::make_unique<Session::State>(*this, net::make_strand(impl_->pool));
    std::shared_ptr<Session> session;
    for (;;) {
        std::string id = newSessionId();
        std::lock_guard lock(impl_->mutex);
        if (impl_->sessions.contains(id))
            continue;  // 192 random bits: practically never
        if (impl_->options.maxSessions > 0 && impl_->sessions.size() >= impl_->options.maxSessions)
            throw SessionLimitReached("Avoimia istuntoja on jo enimmäismäärä " +
                                      std::to_string(impl_->options.maxSessions) + ".");
        const std::size_t share = impl_->options.maxSessionsPerAddress;
        if (!address.empty() && share > 0) {
            std::size_t& held = impl_->byAddress[address];
            if (held >= share)
                throw SessionLimitReached("Osoitteesta " + address + " on jo auki enimmäismäärä " +
                                          std::to_string(share) + " istuntoa.");
            ++held;
            impl_->addressOf.emplace(id, address);
        }
        session.reset(new Session(id, std::move(state)));
        impl_->sessions.emplace(std::move(id), session);
        break;
    }
    postEvent(*session, [this](Session& s) { notify(SessionEvent::Created, s); });
    return session;
}

std::shared_ptr<Session> SessionManager::find(std::string_view id) const
{
    std::lock_guard lock(impl_->mutex);
    const auto it = impl_->sessions.find(std::string(id));
    return it == impl_->sessions.end() ? nullptr : it->second;
}

bool SessionManager::close(std::string_view id)
{
    const auto session = find(id);
    return session && close(*session);
}

bool SessionManager::close(Session& session)
{
    return closeIf(session, [](const Session::State&) { return true; });
}

void SessionManager::closeAll()
{
    std::vector<std::shared_ptr<Session>> open;
    {
        std::lock_guard lock(impl_->mutex);
        for (const auto& [id, session] : impl_->sessions)
            open.push_back(session);
    }
    for (const auto& session : open)
        close(*session);
}

void SessionManager::closeIdle()
{
    std::vector<std::shared_ptr<Session>> open;
    {
        std::lock_guard lock(impl_->mutex);
        for (const auto& [id, session] : impl_->sessions)
            open.push_back(session);
    }
    const auto now = Clock::now();
    const auto limit = impl_->options.idleLimit;
    for (const auto& session : open)
        closeIf(*session, [&](const Session::State& state) {
            return !state.running && state.waiting.empty() && now - state.lastUsed >= limit;
        });
}

bool SessionManager::closeIf(Session& session, const std::function<bool(const Session::State&)>& condition)
{
    auto& state = *session.state_;
    bool postNow = false;
    std::vector<std::shared_ptr<net::steady_timer>> timers;
    std::deque<Session::State::WaitingCall> dropped;
    {
        std::lock_guard lock(state.mutex);
        if (!state.open || !condition(state))
            return false;
        state.open = false;
        timers.swap(state.timers);
        dropped.swap(state.waiting);  // waiting calls give up
        postNow = !state.running;
        state.closedEventDue = state.running;
    }
    for (auto& call : dropped)
        call.drop();
    if (!timers.empty())
        net::post(state.strand, [timers = std::move(timers)] {
            for (const auto& timer : timers)
                timer->cancel();
        });
    {
        std::lock_guard lock(impl_->mutex);
        impl_->sessions.erase(session.id());
        const auto owner = impl_->addressOf.find(session.id());
        if (owner != impl_->addressOf.end()) {
            const auto held = impl_->byAddress.find(owner->second);
            if (held != impl_->byAddress.end() && --held->second == 0)
                impl_->byAddress.erase(held);
            impl_->addressOf.erase(owner);
        }
    }
    if (postNow)
        postClosedEvent(session);
    return true;
}

void SessionManager::waitForEvents()
{
    std::unique_lock lock(impl_->activityMutex);
    impl_->activityDone.wait(lock, [&] { return impl_->queuedEvents == 0; });
}

std::size_t SessionManager::size() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->sessions.size();
}

std::chrono::milliseconds SessionManager::idleLimit() const
{
    return impl_->options.idleLimit;
}

SessionManager::Turn SessionManager::requestTurn(Session& session, std::function<void()> start,
                                                 std::function<void()> drop)
{
    auto& state = *session.state_;
    {
        std::lock_guard lock(state.mutex);
        if (!state.open)
            return Turn::Closed;
        if (state.running) {
            if (state.waiting.size() >= impl_->options.maxWaitingCalls)
                return Turn::Busy;
            state.waiting.push_back({std::move(start), std::move(drop)});
            return Turn::Queued;
        }
        state.running = true;
        state.lastUsed = Clock::now();
    }
    beginCall();
    start();
    return Turn::Started;
}

void SessionManager::beginCall()
{
    std::lock_guard lock(impl_->activityMutex);
    ++impl_->runningCalls;
}

void SessionManager::endCall(Session& session)
{
    auto& state = *session.state_;
    std::function<void()> next;
    bool postClosed = false;
    {
        std::lock_guard lock(state.mutex);
        state.lastUsed = Clock::now();
        if (!state.waiting.empty()) {
            next = std::move(state.waiting.front().start);
            state.waiting.pop_front();
        } else {
            state.running = false;
            postClosed = std::exchange(state.closedEventDue, false);
        }
    }
    if (next) {
        next();  // the turn passes on; the count of running calls stays
        return;
    }
    if (postClosed)
        postClosedEvent(session);
    std::lock_guard lock(impl_->activityMutex);
    if (--impl_->runningCalls == 0)
        impl_->activityDone.notify_all();
}

void SessionManager::dropWaitingCalls()
{
    std::vector<std::shared_ptr<Session>> open;
    {
        std::lock_guard lock(impl_->mutex);
        for (const auto& [id, session] : impl_->sessions)
            open.push_back(session);
    }
    for (const auto& session : open) {
        std::deque<Session::State::WaitingCall> dropped;
        {
            std::lock_guard lock(session->state_->mutex);
            dropped.swap(session->state_->waiting);
        }
        for (auto& call : dropped)
            call.drop();
    }
}

void SessionManager::runSerial(Session& session, const std::function<void()>& work)
{
    if (Session::current() == &session) {  // a call within a call of the same session
        work();
        return;
    }
    // The turn is waited for on this thread.
    struct Wait {
        std::mutex mutex;
        std::condition_variable changed;
        bool turn = false;
        bool dropped = false;
    } wait;
    const auto signal = [&wait](bool Wait::*flag) {
        std::lock_guard lock(wait.mutex);
        wait.*flag = true;
        wait.changed.notify_all();
    };
    switch (requestTurn(
        session, [&] { signal(&Wait::turn); }, [&] { signal(&Wait::dropped); })) {
    case Turn::Closed: throw SessionNotFound("Istunto on päättynyt.");
    case Turn::Busy: throw SessionBusy("Istunnon kutsuja odottaa jo enimmäismäärä.");
    case Turn::Started:
    case Turn::Queued: break;
    }
    {
        std::unique_lock lock(wait.mutex);
        wait.changed.wait(lock, [&] { return wait.turn || wait.dropped; });
        if (wait.dropped)
            throw SessionNotFound("Istunto on päättynyt.");
    }
    struct Leave {
        SessionManager& manager;
        Session& session;
        ~Leave() { manager.endCall(session); }
    } leave{*this, session};
    CurrentSessionScope scope(&session);
    work();
}

void SessionManager::postClosedEvent(Session& session)
{
    postEvent(session, [this](Session& s) {
        notify(SessionEvent::Closed, s);
        std::shared_ptr<void> object;
        {
            std::lock_guard lock(s.state_->mutex);
            object.swap(s.state_->object);
        }
        // the application's object for the session goes here, still as the current session
    });
}

void SessionManager::postEvent(Session& session, std::function<void(Session&)> event)
{
    {
        std::lock_guard lock(impl_->activityMutex);
        ++impl_->queuedEvents;
    }
    net::post(session.state_->strand, [this, self = session.shared_from_this(), event = std::move(event)] {
        runEvent(*self, event);
        std::lock_guard lock(impl_->activityMutex);
        if (--impl_->queuedEvents == 0)
            impl_->activityDone.notify_all();
    });
}

void SessionManager::runEvent(Session& session, const std::function<void(Session&)>& event)
{
    CurrentSessionScope scope(&session);
    try {
        event(session);
    } catch (const std::exception& e) {
        reportEventError(e.what());
    } catch (...) {
        reportEventError("tuntematon poikkeus");
    }
}

void SessionManager::notify(SessionEvent type, Session& session)
{
    std::vector<Listener> listeners;
    {
        std::lock_guard lock(impl_->mutex);
        for (const auto& [id, listener] : impl_->listeners)
            listeners.push_back(listener);
    }
    for (const auto& listener : listeners) {
        try {
            listener(type, session);
        } catch (const std::exception& e) {
            reportEventError(e.what());
        } catch (...) {
            reportEventError("tuntematon poikkeus");
        }
    }
}

void SessionManager::reportEventError(const std::string& message)
{
    if (!impl_->options.onEventError)
        return;
    try {
        impl_->options.onEventError(message);
    } catch (...) {
        // nowhere left to report it
    }
}

}  // namespace krp::session
