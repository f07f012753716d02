#include "server/SessionGates.h"

#include "log/ClientText.h"
#include "log/EventLog.h"
#include "server/ClientAuthentication.h"
#include "server/ConnectPropertiesJson.h"
#include "server/ErrorAnswers.h"
#include "server/KeyedCall.h"
#include "server/RequestCredentials.h"
#include "shared/JsonText.h"

#include <memory>

namespace krp {

using transport::HttpRequest;
using transport::HttpResponse;

SessionGates::SessionGates(session::SessionManager& sessions, ServiceContext& service, BlockingExecutor blocking,
                           LoginThrottleOptions throttle)
    : sessions_(sessions), service_(service), blocking_(std::move(blocking)), sessionCapLog_(&TekstiLokiin),
      throttle_(throttle)
{
}

std::optional<HttpResponse> SessionGates::checkHead(const HttpRequest& request)
{
    if (auto refusal = lockedOut(request.remoteAddress))
        return refusal;
    const auto credentials = basicCredentials(request);
    if (credentials && fixedCredentialsMatch(credentials->first, credentials->second))
        return std::nullopt;
    // Gate 1 refuses: the same answer and log lines as when the body had been read. Its log
    // line waits for the window lock, so it is written on a worker, not on this I/O thread.
    blocking_([user = credentials ? credentials->first : QString(),
               password = credentials ? credentials->second : QString()] {
        DSAuthenticationManager1UserAuthenticate(user, password);
    });
    openingFailed(request.remoteAddress, credentials ? credentials->first : QString(), false);
    return answers::unauthorized(answers::kBadCredentials);
}

std::optional<HttpResponse> SessionGates::lockedOut(const std::string& address)
{
    const auto wait = throttle_.retryAfter(address);
    if (wait.count() == 0)
        return std::nullopt;
    const auto seconds = static_cast<int>(wait.count());
    return answers::retryLater(429,
                               "Liian monta epäonnistunutta kirjautumista tästä osoitteesta; yritä " +
                                   std::to_string(seconds) + " sekunnin kuluttua uudelleen.",
                               seconds);
}

void SessionGates::openingFailed(const std::string& address, const QString& user, bool erpUser)
{
    const QString from = QString::fromStdString(address);
    TekstiLokiin(QStringLiteral("Istunnon avaus hylätty: osoite ") + from + QStringLiteral(", käyttäjätunnus \"") +
                 logSafe(user) + QStringLiteral("\"."));
    // A wrong application credential names no ERP user: no user's success clears it.
    const auto lock =
        throttle_.failed(address, erpUser ? std::optional<std::string>(user.toStdString()) : std::nullopt);
    if (lock.count() > 0)
        TekstiLokiin(QStringLiteral("Liian monta epäonnistunutta kirjautumista osoitteesta ") + from +
                     QStringLiteral("; sen kirjautumisyritykset torjutaan %1 sekunnin ajan.").arg(lock.count()));
}

HttpResponse SessionGates::open(const HttpRequest& request, const std::atomic<bool>& stopping)
{
    // An address that failed too often is refused before anything is checked.
    if (auto refusal = lockedOut(request.remoteAddress))
        return *refusal;

    // Gate 1: the fixed application credentials.
    const auto credentials = basicCredentials(request);
    const bool valid = DSAuthenticationManager1UserAuthenticate(credentials ? credentials->first : QString(),
                                                                credentials ? credentials->second : QString());
    if (!valid) {
        openingFailed(request.remoteAddress, credentials ? credentials->first : QString(), false);
        return answers::unauthorized(answers::kBadCredentials);
    }

    std::string error;
    const auto properties = readConnectProperties(request.body, error);
    if (!properties)
        return HttpResponse::error(400, error);

    // Gate 2: the connect event, run as the new session's first call.
    std::shared_ptr<session::Session> session;
    try {
        session = sessions_.create(request.remoteAddress);
        sessions_.call(*session, [&](session::Session& s) {
            s.setData("RemoteHost", request.remoteAddress);
            s.setData(kSessionUserData, properties->saatu_kayttajatunnus.toStdString());
            const ChannelInfo channel{QString::fromStdString(request.remoteAddress),
                                      QString::fromStdString(request.protocol)};
            DSServer1Connect(*properties, channel, *service_.database);
            s.setObject(module_->create(service_));
        });
    } catch (const session::SessionLimitReached& e) {
        sessionCapLog_.note(QStringLiteral("Istunnon avaus torjuttiin (503): ") + QString::fromUtf8(e.what()));
        return answers::failureAnswer(std::current_exception(), answers::FailedIn::SessionOpening);
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        if (session)
            sessions_.close(*session);  // nothing when the stop closed it already
        try {
            throw;
        } catch (const ServerMisconfigured&) {
            // The server's own settings refuse everyone: not the client's failure.
        } catch (const ConnectRefused&) {
            openingFailed(request.remoteAddress, properties->saatu_kayttajatunnus, true);
        } catch (...) {
        }
        return answers::failureAnswer(failure, answers::FailedIn::SessionOpening);
    }
    if (stopping) {
        // The stop began during the gates: the session would only be closed again.
        sessions_.close(*session);
        return answers::serviceStopping();
    }
    throttle_.succeeded(request.remoteAddress, properties->saatu_kayttajatunnus.toStdString());
    return HttpResponse::json(200, "{\"session\":" + transport::jsonQuoted(session->id()) + "}");
}

}  // namespace krp
