#pragma once
// What the server answers when it does not answer with a result: the texts and Retry-After
// values clients see, and the one place where a failure becomes its status.
//
// A failure becomes:
//   503 + Retry-After  the database did not answer (a lost link, a limit, no connection) at a
//                      session opening, or in a call of a method that only reads: nothing was
//                      refused and nothing written, the client may repeat it; the body is
//                      {"error": the database layer's text}. A write whose outcome is unknown
//                      is never one of these: its method answers "tulos epävarma" itself.
//   503 + Retry-After  the cap of open sessions, or the service stopping
//   403                a refusal of the connect event, or any other failure of the gates
//   500                any other failure of a call (the method's own message)
#include "protocol/MethodRegistry.h"
#include "server/transport/HttpMessage.h"

#include <QString>

#include <exception>
#include <string_view>

namespace krp {

// The server's error event: logs "Server: Tapahtui virhe: " and the message (a method's raised
// error, an exception out of a session event).
void DSServer1Error(const QString& message);

}  // namespace krp

namespace krp::answers {

inline constexpr std::string_view kBadCredentials = "Virheelliset kirjautumistiedot";
inline constexpr std::string_view kStopping = "Palvelu pysäytetään";
inline constexpr std::string_view kInternalError = "Palvelimen sisäinen virhe.";
inline constexpr std::string_view kNoBearer = "No session: send Authorization: Bearer <session id>.";
inline constexpr std::string_view kNoSession = "The session is unknown, has ended or has expired.";
inline constexpr std::string_view kNoSuchPath =
    "No such path. The paths are /api/v1/session, /api/v1/methods/{Method} and /api/v1/providers/{provider}.";
inline constexpr std::string_view kSessionBusy =
    "Istunnon aiemmat kutsut ovat vielä kesken; yritä hetken kuluttua uudelleen.";
inline constexpr std::string_view kTryAgainShortly = " Yritä hetken kuluttua uudelleen.";

// Retry-After, in seconds.
inline constexpr int kRetryStopping = 10;    // the service is stopping
inline constexpr int kRetryDatabase = 10;    // the database did not answer
inline constexpr int kRetrySessionCap = 30;  // the most sessions are open
inline constexpr int kRetrySessionBusy = 1;  // the session's most calls wait
inline constexpr int kRetryInProgress = 5;   // a keyed write still runs in another session
inline constexpr int kRetryJournal = 10;     // the journal of keyed calls could not be written
inline constexpr int kRetryHealth = 5;       // the health answer "unavailable"

void addRetryAfter(transport::HttpResponse& response, int seconds);
// {"error": message} with Retry-After.
transport::HttpResponse retryLater(int status, std::string_view message, int seconds);
// 401 with WWW-Authenticate.
transport::HttpResponse unauthorized(std::string_view message);
// 503 "Palvelu pysäytetään": the answer to requests during a stop.
transport::HttpResponse serviceStopping();

// Where a failure happened, which decides what it becomes.
enum class FailedIn {
    SessionOpening,  // the gates
    Call,            // a method call or a provider fetch
};

// The answer to `failure` (an exception caught in `place`).
transport::HttpResponse failureAnswer(const std::exception_ptr& failure, FailedIn place);

// The answer to a method call's result: a raised failure goes through failureAnswer, and a
// method's own failure keeps the 500 body that the method table wrote.
transport::HttpResponse callAnswer(const protocol::CallResult& result);

}  // namespace krp::answers
