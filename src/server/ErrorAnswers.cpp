#include "server/ErrorAnswers.h"

#include "db/Error.h"
#include "log/EventLog.h"
#include "server/ClientAuthentication.h"
#include "server/session/SessionManager.h"

#include <string>

namespace krp {

void DSServer1Error(const QString& message)
{
    appendStampedLineLocked(QStringLiteral("Server: Tapahtui virhe: ") + message);
}

}  // namespace krp

namespace krp::answers {

using transport::HttpResponse;

void addRetryAfter(HttpResponse& response, int seconds)
{
    response.headers.emplace_back("Retry-After", std::to_string(seconds));
}

HttpResponse retryLater(int status, std::string_view message, int seconds)
{
    HttpResponse r = HttpResponse::error(status, message);
    addRetryAfter(r, seconds);
    return r;
}

HttpResponse unauthorized(std::string_view message)
{
    HttpResponse r = HttpResponse::error(401, message);
    r.headers.emplace_back("WWW-Authenticate", "Basic realm=\"KRPalvelin\"");
    return r;
}

HttpResponse serviceStopping()
{
    return retryLater(503, kStopping, kRetryStopping);
}

HttpResponse failureAnswer(const std::exception_ptr& failure, FailedIn place)
{
    const bool opening = place == FailedIn::SessionOpening;
    try {
        std::rethrow_exception(failure);
    } catch (const session::SessionLimitReached& e) {
        return retryLater(503, std::string(e.what()) + std::string(kTryAgainShortly), kRetrySessionCap);
    } catch (const session::SessionNotFound&) {
        return serviceStopping();  // the session was closed under the opening: the stop
    } catch (const DatabaseUnavailable& e) {
        return retryLater(503, e.what(), kRetryDatabase);
    } catch (const db::Error& e) {
        // An opening that the database did not answer may simply be repeated later. A call's
        // method failed the call, whatever the reason: 500 with the database's text, which
        // clients of the first version of the protocol already handle.
        if (opening && e.isUnavailable() && !e.outcomeUnknown())
            return retryLater(503, e.what(), kRetryDatabase);
        return HttpResponse::error(opening ? 403 : 500, e.what());
    } catch (const std::exception& e) {
        // At the gates, a database that answers with an error of its own refuses the client.
        return HttpResponse::error(opening ? 403 : 500, e.what());
    } catch (...) {
        return HttpResponse::error(opening ? 403 : 500, kInternalError);
    }
}

HttpResponse callAnswer(const protocol::CallResult& result)
{
    if (!result.failure)
        return HttpResponse::json(result.status, result.body);
    const HttpResponse answer = failureAnswer(result.failure, FailedIn::Call);
    // A method's own failure keeps the body the method table wrote.
    return answer.status == 500 ? HttpResponse::json(result.status, result.body) : answer;
}

}  // namespace krp::answers
