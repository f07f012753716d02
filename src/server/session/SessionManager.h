#pragma once
// The sessions of remote clients, independent of the transport.
//
//   SessionManager sessions;                       // 20 minutes idle limit
//   sessions.addListener([](SessionEvent e, Session& s) { ... });  // on an event thread
//   auto session = sessions.create();              // created event follows on an event thread
//   session->setObject(std::make_shared<TServerMethods1>(...));
//   sessions.call(session->id(), [](Session& s) {  // one call of a session at a time
//       s.setData("RemoteHost", "10.0.0.5");      // Session::current() == &s here
//   });
//   sessions.close(id);                            // closed event; later calls throw SessionNotFound
//
// Calls of one session run one after the other in the order they arrived; calls of different
// sessions run at the same time. A call waiting for its session's turn holds no thread when it
// asks with requestTurn() (call() is its blocking form, which waits on the caller's thread). At
// most `maxWaitingCalls` calls of one session wait; at most `maxSessions` sessions are open.
// A session that has had no call for the idle limit is closed by the manager.
#include "server/session/Session.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

namespace krp::session {

enum class SessionEvent { Created, Closed };

// An unknown id, or a session that has ended or expired.
class SessionNotFound : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The cap of open sessions is reached: no session was created.
class SessionLimitReached : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// As many calls of the session already wait for their turn as may.
class SessionBusy : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SessionManagerOptions {
    std::size_t maxSessions = 10'000;  // open sessions at once; 0: no cap
    // Of them opened from one client address (see create()); 0: no share of its own.
    std::size_t maxSessionsPerAddress = 1'000;
    std::size_t maxWaitingCalls = 8;  // calls of one session waiting behind its running call
    std::chrono::milliseconds idleLimit = std::chrono::minutes(20);
    // How often idle sessions are looked for; zero: a twentieth of the idle limit, between
    // 10 ms and 30 s.
    std::chrono::milliseconds sweepInterval{0};
    unsigned eventThreads = 2;
    // Told about an exception that escaped a listener or a one-shot event (the event itself is
    // then over). Runs on the event thread.
    std::function<void(const std::string& message)> onEventError;
};

class SessionManager {
public:
    using Listener = std::function<void(SessionEvent, Session&)>;
    using ListenerId = std::size_t;

    explicit SessionManager(SessionManagerOptions options = {});
    // Closes every session (their closed events run), waits for running calls and events.
    // Not to be destroyed from within a call or an event of its own.
    ~SessionManager();
    SessionManager(const SessionManager&) = delete;
    SessionManager& operator=(const SessionManager&) = delete;

    // Listeners receive the created and closed event of every session, on an event thread,
    // with that session as the current one.
    ListenerId addListener(Listener listener);
    void removeListener(ListenerId id);

    // A new open session with a fresh id, opened from `address` (empty: none counted); its
    // created event is queued. Throws SessionLimitReached when maxSessions are open, or
    // maxSessionsPerAddress of that address.
    std::shared_ptr<Session> create(const std::string& address = {});

    // The open session of that id; nullptr when unknown or closed.
    std::shared_ptr<Session> find(std::string_view id) const;

    enum class Turn {
        Started,  // `start` has run on this thread: the session was free
        Queued,   // `start` (or `drop`) runs later
        Closed,   // the session is not open; neither runs
        Busy,     // maxWaitingCalls wait already; neither runs
    };

    // Asks for the session's turn for one call, without waiting for it. When the turn comes,
    // `start` runs: at once on this thread when the session is free, otherwise on the thread
    // that ends the call before it. `start` must not block or throw; it sets the call going
    // (here or elsewhere), and the call ends with endCall(session) from any thread. When the
    // session closes, or dropWaitingCalls() runs, before the turn came, `drop` runs instead.
    Turn requestTurn(Session& session, std::function<void()> start, std::function<void()> drop);
    // Ends the running call of the session and gives the turn to the next waiting call.
    void endCall(Session& session);
    // Every call waiting for its turn, in every session, is dropped.
    void dropWaitingCalls();

    // Runs fn(session) on this thread when the session's turn comes, with the session as the
    // current one, and returns what fn returns (exceptions pass through). Waits on this
    // thread: for callers that may block. Throws SessionNotFound for an unknown id or a
    // session that closes before its turn, SessionBusy when too many calls wait. A call made
    // from within a call of the same session runs at once.
    template <class F>
    auto call(std::string_view id, F&& fn) -> std::invoke_result_t<F&, Session&>
    {
        auto session = find(id);
        if (!session)
            throw SessionNotFound("Istuntoa ei ole tai se on päättynyt.");
        return call(*session, std::forward<F>(fn));
    }

    template <class F>
    auto call(Session& session, F&& fn) -> std::invoke_result_t<F&, Session&>
    {
        using Result = std::invoke_result_t<F&, Session&>;
        if constexpr (std::is_void_v<Result>) {
            runSerial(session, [&] { fn(session); });
        } else {
            std::optional<Result> result;
            runSerial(session, [&] { result.emplace(fn(session)); });
            return std::move(*result);
        }
    }

    // Ends the session: it leaves the table at once, its waiting calls fail, its pending
    // one-shot events are dropped, and its closed event is queued (after the running call, if
    // there is one). False when it was not open.
    bool close(std::string_view id);
    bool close(Session& session);
    void closeAll();

    // Waits until the session events queued so far have run (not one-shot events still due).
    void waitForEvents();

    std::size_t size() const;
    std::chrono::milliseconds idleLimit() const;

private:
    friend class Session;
    void runSerial(Session& session, const std::function<void()>& work);
    void beginCall();
    bool closeIf(Session& session, const std::function<bool(const Session::State&)>& condition);
    void closeIdle();
    void postEvent(Session& session, std::function<void(Session&)> event);
    void postClosedEvent(Session& session);
    void runEvent(Session& session, const std::function<void(Session&)>& event);
    void notify(SessionEvent type, Session& session);
    void reportEventError(const std::string& message);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace krp::session
