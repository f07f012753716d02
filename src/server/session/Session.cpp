#include "server/session/Session.h"

#include "server/session/SessionManager.h"
#include "server/session/SessionState.h"

#include <algorithm>

namespace krp::session {

namespace {
thread_local Session* currentSession = nullptr;
}

CurrentSessionScope::CurrentSessionScope(Session* session) : previous_(currentSession)
{
    currentSession = session;
}

CurrentSessionScope::~CurrentSessionScope()
{
    currentSession = previous_;
}

Session* Session::current()
{
    return currentSession;
}

Session::Session(std::string id, std::unique_ptr<State> state) : id_(std::move(id)), state_(std::move(state))
{
    state_->self = this;
}

Session::~Session() = default;

std::string Session::data(std::string_view name) const
{
    return findData(name).value_or(std::string());
}

std::optional<std::string> Session::findData(std::string_view name) const
{
    std::lock_guard lock(state_->mutex);
    const auto it = state_->data.find(name);
    if (it == state_->data.end())
        return std::nullopt;
    return it->second;
}

void Session::setData(std::string name, std::string value)
{
    std::lock_guard lock(state_->mutex);
    state_->data.insert_or_assign(std::move(name), std::move(value));
}

void Session::setObject(std::shared_ptr<void> object)
{
    {
        std::lock_guard lock(state_->mutex);
        state_->object.swap(object);
    }
    // `object` now holds the one replaced; it is released here, outside the lock.
}

std::shared_ptr<void> Session::object() const
{
    std::lock_guard lock(state_->mutex);
    return state_->object;
}

bool Session::isOpen() const
{
    std::lock_guard lock(state_->mutex);
    return state_->open;
}

std::size_t Session::pendingCalls() const
{
    std::lock_guard lock(state_->mutex);
    return state_->waiting.size() + (state_->running ? 1 : 0);
}

void Session::scheduleOnce(std::chrono::milliseconds delay, std::function<void(Session&)> event)
{
    std::lock_guard lock(state_->mutex);
    if (!state_->open)
        return;
    auto timer = std::make_shared<boost::asio::steady_timer>(state_->strand, delay);
    state_->timers.push_back(timer);
    timer->async_wait([self = shared_from_this(), timer, event = std::move(event)](boost::system::error_code ec) {
        {
            std::lock_guard lock(self->state_->mutex);
            auto& timers = self->state_->timers;
            timers.erase(std::remove(timers.begin(), timers.end(), timer), timers.end());
            if (ec || !self->state_->open)
                return;
        }
        self->state_->manager.runEvent(*self, event);
    });
}

}  // namespace krp::session
