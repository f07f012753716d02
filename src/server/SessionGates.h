#pragma once
// Opening a session: the lock-out of an address that failed too often (LoginThrottle), gate 1
// (the fixed application credentials) and gate 2 (the connect event, run as the new session's
// first call on a query of the opening's own), and the method module the session gets.
#include "methods/MethodModule.h"
#include "methods/ServiceContext.h"
#include "server/LogThrottle.h"
#include "server/LoginThrottle.h"
#include "server/session/SessionManager.h"
#include "server/transport/HttpMessage.h"

#include <QString>

#include <atomic>
#include <functional>
#include <optional>
#include <string>

namespace krp {

class SessionGates {
public:
    // Hands work that may wait (a log line under the window lock) to a worker thread.
    using BlockingExecutor = std::function<void(std::function<void()> work)>;

    SessionGates(session::SessionManager& sessions, ServiceContext& service, BlockingExecutor blocking,
                 LoginThrottleOptions throttle);

    // The module each new session gets (set before the start).
    void setModule(const MethodModule& module) { module_ = &module; }

    // Before the body is read (on the I/O thread, never waiting): 429 for a locked-out
    // address, 401 without the fixed credentials; nothing when the body may be read.
    std::optional<transport::HttpResponse> checkHead(const transport::HttpRequest& request);

    // Both gates and the new session, on a worker: 200 {"session": id}, or the refusal.
    // `stopping` refuses an opening that the stop overtook.
    transport::HttpResponse open(const transport::HttpRequest& request, const std::atomic<bool>& stopping);

private:
    std::optional<transport::HttpResponse> lockedOut(const std::string& address);
    // Counts a failed opening of `address` (logged with the user name it tried: the ERP user's
    // when `erpUser`, else the application credentials') and logs a lock-out that it starts.
    void openingFailed(const std::string& address, const QString& user, bool erpUser);

    session::SessionManager& sessions_;
    ServiceContext& service_;
    BlockingExecutor blocking_;
    const MethodModule* module_ = nullptr;
    LogThrottle sessionCapLog_;
    LoginThrottle throttle_;
};

}  // namespace krp
