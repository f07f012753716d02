#pragma once
// One client session: its id, its data (name to text, such as "RemoteHost"), the object the
// application keeps for it (the session's method module), and its one-shot events. Sessions are
// made, looked up, run and closed by the SessionManager.
#include "server/session/IdempotencyStore.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace krp::session {

class SessionManager;

class Session : public std::enable_shared_from_this<Session> {
public:
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const std::string& id() const { return id_; }

    // Session data; a name never set reads as the empty text. Safe from any thread.
    std::string data(std::string_view name) const;
    std::optional<std::string> findData(std::string_view name) const;
    void setData(std::string name, std::string value);

    // The application's object for this session. Released after the closed event has run.
    void setObject(std::shared_ptr<void> object);
    std::shared_ptr<void> object() const;
    template <class T>
    std::shared_ptr<T> objectAs() const
    {
        return std::static_pointer_cast<T>(object());
    }

    bool isOpen() const;

    // The answers of this session's last keyed method calls.
    IdempotencyStore& idempotencyStore() { return idempotency_; }

    // Calls of this session waiting for their turn or running.
    std::size_t pendingCalls() const;

    // Runs `event` once, `delay` from now, on one of the manager's event threads, with this
    // session as the current session. Events of one session run one at a time and after its
    // created event. An event not yet due when the session closes is dropped; scheduling on a
    // closed session does nothing.
    void scheduleOnce(std::chrono::milliseconds delay, std::function<void(Session&)> event);

    // The session whose call or event this thread is running; nullptr outside of one.
    static Session* current();

    struct State;  // what the manager keeps per session

private:
    friend class SessionManager;
    Session(std::string id, std::unique_ptr<State> state);

    const std::string id_;
    const std::unique_ptr<State> state_;
    IdempotencyStore idempotency_;
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
