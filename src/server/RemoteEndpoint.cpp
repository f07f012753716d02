#include "server/RemoteEndpoint.h"

#include "log/ClientText.h"
#include "log/EventLog.h"
#include "methods/PublishedMethods.h"
#include "server/ClientAuthentication.h"
#include "server/ConnectPropertiesJson.h"
#include "server/KeyedCall.h"
#include "server/ProtocolPaths.h"
#include "server/RequestCredentials.h"
#include "protocol/TableObject.h"
#include "shared/NoCase.h"
#include "server/transport/TextCut.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

namespace krp {

using transport::HttpRequest;
using transport::HttpResponse;

namespace {

// When a client may try to open its session again while the database does not answer.
constexpr const char* kDatabaseRetryAfterSeconds = "10";

constexpr std::string_view kNoSuchPath =
    "No such path. The paths are /api/v1/session, /api/v1/methods/{Method} and /api/v1/providers/{provider}.";
constexpr std::string_view kNoSession = "The session is unknown, has ended or has expired.";

HttpResponse unauthorized(std::string_view message)
{
    HttpResponse r = HttpResponse::error(401, message);
    r.headers.emplace_back("WWW-Authenticate", "Basic realm=\"KRPalvelin\"");
    return r;
}

// The value of the request's Idempotency-Key header; nothing when it has none.
std::optional<std::string> idempotencyKey(const HttpRequest& request)
{
    for (const auto& [name, value] : request.headers) {
        if (transport::equalsNoCase(name, "Idempotency-Key"))
            return value;
    }
    return std::nullopt;
}

// A call as the log names it: the method with the client's host.
std::string labelWithHost(const std::string& label, const session::Session& session)
{
    return label + " (" + session.data("RemoteHost") + ")";
}

}  // namespace

void DSServer1Error(const QString& message)
{
    appendStampedLineLocked(QStringLiteral("Server: Tapahtui virhe: ") + message);
}

protocol::CallResult callPublishedMethod(TServerMethods1& module, std::string_view method, std::string_view body,
                                         const protocol::MethodErrorHandler& onError)
{
    return publishedMethods().call(module, method, body, onError);
}

HttpResponse serviceStopping()
{
    HttpResponse r = HttpResponse::error(503, "Palvelu pysäytetään");
    r.headers.emplace_back("Retry-After", "10");
    return r;
}

bool RemoteEndpoint::runsWithoutDatabase(std::string_view method)
{
    // Each only stores its arguments or hands work to the window's thread.
    return method == "Ping" || method == "SovellusSuljetaan" || method == "TarkistaKayttooikeus";
}

RemoteEndpoint::RemoteEndpoint(session::SessionManager& sessions, ServiceContext& service,
                               BlockingExecutor blocking, MethodDispatcher methods,
                               LoginThrottleOptions throttle)
    : sessions_(sessions),
      service_(service),
      blocking_(std::move(blocking)),
      methods_(methods ? std::move(methods) : MethodDispatcher(&callPublishedMethod)),
      busyLog_(&TekstiLokiin),
      sessionCapLog_(&TekstiLokiin),
      operations_(sessions, service),
      console_(sessions, service),
      throttle_(throttle)
{
    keyed_.writes = &publishedMethodWrites;
}

std::optional<HttpResponse> RemoteEndpoint::checkHead(const HttpRequest& request)
{
    const auto started = std::chrono::steady_clock::now();
    std::optional<HttpResponse> refusal = refuseHead(request);
    if (refusal)  // counted for the metrics like an answer after the body
        OperationsEndpoint::count(request, *refusal, started);
    return refusal;
}

std::optional<HttpResponse> RemoteEndpoint::refuseHead(const HttpRequest& request)
{
    // During a stop the request goes on to handle(), whose 503 keeps the connection open.
    if (stopping_)
        return std::nullopt;
    const std::string_view path = paths::pathOf(request.target);
    if (path == paths::kSession && request.method == "POST") {
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
        return unauthorized("Virheelliset kirjautumistiedot");
    }
    // Every other body is read only for a caller with a live session: a stranger holds no
    // body memory that others need.
    if (OperationsEndpoint::isOperatorPath(request))
        return request.method != "GET" ? OperationsEndpoint::wrongMethod(path)
                                       : HttpResponse::error(400, "This path takes no request body.");
    const bool sessionPath = path == paths::kSession ||
                             path.substr(0, paths::kMethodsPrefix.size()) == paths::kMethodsPrefix ||
                             path.substr(0, paths::kProvidersPrefix.size()) == paths::kProvidersPrefix;
    if (!sessionPath)
        return HttpResponse::error(404, kNoSuchPath);
    const std::string token = bearerToken(request);
    if (token.empty())
        return unauthorized("No session: send Authorization: Bearer <session id>.");
    if (!sessions_.find(token))
        return unauthorized(kNoSession);
    return std::nullopt;
}

std::optional<HttpResponse> RemoteEndpoint::lockedOut(const std::string& address)
{
    const auto wait = throttle_.retryAfter(address);
    if (wait.count() == 0)
        return std::nullopt;
    HttpResponse r = HttpResponse::error(
        429, "Liian monta epäonnistunutta kirjautumista tästä osoitteesta; yritä " +
                 std::to_string(wait.count()) + " sekunnin kuluttua uudelleen.");
    r.headers.emplace_back("Retry-After", std::to_string(wait.count()));
    return r;
}

void RemoteEndpoint::openingFailed(const std::string& address, const QString& user, bool erpUser)
{
    const QString from = QString::fromStdString(address);
    TekstiLokiin(QStringLiteral("Istunnon avaus hylätty: osoite ") + from + QStringLiteral(", käyttäjätunnus \"")
                 + logSafe(user) + QStringLiteral("\"."));
    // A wrong application credential names no ERP user: no user's success clears it.
    const auto lock = throttle_.failed(address, erpUser ? std::optional<std::string>(user.toStdString()) : std::nullopt);
    if (lock.count() > 0)
        TekstiLokiin(QStringLiteral("Liian monta epäonnistunutta kirjautumista osoitteesta ") + from
                     + QStringLiteral("; sen kirjautumisyritykset torjutaan %1 sekunnin ajan.").arg(lock.count()));
}

void RemoteEndpoint::resume()
{
    stopping_ = false;
}

void RemoteEndpoint::beginStop()
{
    stopping_ = true;
    sessions_.dropWaitingCalls();  // each is answered 503 by its drop
}

std::vector<std::string> RemoteEndpoint::runningCalls() const
{
    std::lock_guard lock(runningMutex_);
    std::vector<std::string> calls;
    for (const auto& [number, label] : running_)
        calls.push_back(label);
    return calls;
}

void RemoteEndpoint::handle(HttpRequest&& request, transport::Respond respond)
{
    // Answered here on the I/O thread from copies, also while the service stops (it shows so).
    if (ConsoleEndpoint::isConsolePath(request))
        return respond(console_.handle(request, stopping_));
    if (stopping_)
        return respond(serviceStopping());
    if (OperationsEndpoint::isOperatorPath(request)) {
        // Health may wait up to its deadline for the database: on a worker.
        auto operatorRequest = std::make_shared<HttpRequest>(std::move(request));
        return onWorker(operatorRequest->target,
                        [this, operatorRequest] { return *operations_.handle(*operatorRequest); }, std::move(respond));
    }
    respond = OperationsEndpoint::counting(request, std::move(respond));
    const std::string_view path = paths::pathOf(request.target);
    if (path == paths::kSession) {
        if (request.method == "POST")
            return openSession(std::move(request), std::move(respond));
        if (request.method == "DELETE")
            return closeSession(request, respond);
        return respond(HttpResponse::error(405, "Use POST to open a session and DELETE to close it."));
    }
    if (path.substr(0, paths::kMethodsPrefix.size()) == paths::kMethodsPrefix) {
        if (request.method != "POST")
            return respond(HttpResponse::error(405, "Methods are called with POST."));
        std::string method(path.substr(paths::kMethodsPrefix.size()));
        using session::IdempotencyStore;
        auto key = idempotencyKey(request);
        if (key && !IdempotencyStore::validKey(*key))
            return respond(HttpResponse::error(400, "Idempotency-Key must be 1 to 64 characters from A-Z a-z 0-9 - _ . :"));
        const bool blocking = !runsWithoutDatabase(method);
        auto work = [this, method, key = std::move(key), body = std::move(request.body)](session::Session& session,
                                                                                          TServerMethods1& module) {
            const auto run = [&] { return methods_(module, method, body, DSServer1Error); };
            if (key)
                return runKeyedCall(keyed_, session, *key, method, body, run);
            const protocol::CallResult r = run();
            return HttpResponse::json(r.status, r.body);
        };
        return inCallersSession(request, std::move(method), blocking, std::move(work), std::move(respond));
    }
    if (path.substr(0, paths::kProvidersPrefix.size()) == paths::kProvidersPrefix) {
        if (request.method != "GET")
            return respond(HttpResponse::error(405, "Providers are read with GET."));
        std::string provider(path.substr(paths::kProvidersPrefix.size()));
        // The rows were read in full when the query opened: no database here.
        auto work = [provider](session::Session&, TServerMethods1& module) {
            db::Query* query = module.provider(QString::fromStdString(provider));
            if (!query)
                return HttpResponse::error(404, "No provider named \"" + transport::cutClientText(provider) + "\".");
            return HttpResponse::json(200, protocol::queryTableJson(*query));
        };
        return inCallersSession(request, provider, false, std::move(work), std::move(respond));
    }
    respond(HttpResponse::error(404, kNoSuchPath));
}

void RemoteEndpoint::onWorker(std::string label, std::function<HttpResponse()> work, transport::Respond respond)
{
    blocking_([this, label = std::move(label), work = std::move(work), respond = std::move(respond)] {
        if (stopping_)
            return respond(serviceStopping());
        std::uint64_t number = 0;
        {
            std::lock_guard lock(runningMutex_);
            number = nextCall_++;
            running_.emplace(number, label);
        }
        HttpResponse answer;
        try {
            answer = work();
        } catch (const std::exception& e) {
            answer = HttpResponse::error(500, e.what());
        } catch (...) {
            answer = HttpResponse::error(500, "Palvelimen sisäinen virhe.");
        }
        {
            std::lock_guard lock(runningMutex_);
            running_.erase(number);
        }
        respond(std::move(answer));
    });
}

void RemoteEndpoint::openSession(HttpRequest&& request, transport::Respond respond)
{
    std::string label = "istunnon avaus (" + request.remoteAddress + ")";
    auto shared = std::make_shared<HttpRequest>(std::move(request));
    onWorker(std::move(label), [this, shared] { return openSessionNow(*shared); }, std::move(respond));
}

HttpResponse RemoteEndpoint::openSessionNow(const HttpRequest& request)
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
        return unauthorized("Virheelliset kirjautumistiedot");
    }

    std::string error;
    const auto properties = readConnectProperties(request.body, error);
    if (!properties)
        return HttpResponse::error(400, error);

    // Gate 2: the connect event, run as the new session's first call. Every way an opening
    // can fail is answered here.
    std::shared_ptr<session::Session> session;
    try {
        session = sessions_.create(request.remoteAddress);
        sessions_.call(*session, [&](session::Session& s) {
            s.setData("RemoteHost", request.remoteAddress);
            s.setData(kSessionUserData, properties->saatu_kayttajatunnus.toStdString());
            const ChannelInfo channel{QString::fromStdString(request.remoteAddress),
                                      QString::fromStdString(request.protocol)};
            DSServer1Connect(*properties, channel, *service_.database);
            s.setObject(std::make_shared<TServerMethods1>(service_));
        });
    } catch (const session::SessionLimitReached& e) {
        sessionCapLog_.note(QStringLiteral("Istunnon avaus torjuttiin (503): ") + QString::fromUtf8(e.what()));
        HttpResponse r = HttpResponse::error(503, std::string(e.what()) + " Yritä hetken kuluttua uudelleen.");
        r.headers.emplace_back("Retry-After", "30");
        return r;
    } catch (const session::SessionNotFound&) {
        return serviceStopping();
    } catch (const DatabaseUnavailable& e) {
        sessions_.close(*session);
        HttpResponse r = HttpResponse::error(503, e.what());  // not a refusal: try again later
        r.headers.emplace_back("Retry-After", kDatabaseRetryAfterSeconds);
        return r;
    } catch (const ServerMisconfigured& e) {
        // The server's own settings refuse everyone: not the client's failure.
        sessions_.close(*session);
        return HttpResponse::error(403, e.what());
    } catch (const ConnectRefused& e) {
        sessions_.close(*session);
        openingFailed(request.remoteAddress, properties->saatu_kayttajatunnus, true);
        return HttpResponse::error(403, e.what());
    } catch (const std::exception& e) {
        sessions_.close(*session);
        return HttpResponse::error(403, e.what());
    }
    if (stopping_) {
        // The stop began during the gates: the session would only be closed again.
        sessions_.close(*session);
        return serviceStopping();
    }
    throttle_.succeeded(request.remoteAddress, properties->saatu_kayttajatunnus.toStdString());
    return HttpResponse::json(200, "{\"session\":" + transport::jsonQuoted(session->id()) + "}");
}

void RemoteEndpoint::inCallersSession(const HttpRequest& request, std::string label, bool blocking, Work work,
                                      transport::Respond respond)
{
    const std::string token = bearerToken(request);
    if (token.empty())
        return respond(unauthorized("No session: send Authorization: Bearer <session id>."));
    std::shared_ptr<session::Session> session = sessions_.find(token);
    if (!session)
        return respond(unauthorized(kNoSession));

    // The call, once its turn has come; ends the turn when answered.
    auto run = [this, session, work = std::move(work)]() -> HttpResponse {
        session::CurrentSessionScope scope(session.get());
        return work(*session, *session->objectAs<TServerMethods1>());
    };
    auto start = [this, session, blocking, label, run = std::move(run), respond]() mutable {
        // Ends the session's turn when it goes: after the call ran, or when the stop came first.
        struct EndTurn {
            session::SessionManager& sessions;
            std::shared_ptr<session::Session> session;
            ~EndTurn() { sessions.endCall(*session); }
        };
        if (!blocking) {
            HttpResponse answer;
            {
                EndTurn end{sessions_, session};
                try {
                    answer = run();
                } catch (const std::exception& e) {
                    answer = HttpResponse::error(500, e.what());
                } catch (...) {
                    answer = HttpResponse::error(500, "Palvelimen sisäinen virhe.");
                }
            }
            return respond(std::move(answer));
        }
        // Only a call on a worker needs its label, for the log of calls cut by a stop.
        auto end = std::make_shared<EndTurn>(sessions_, session);
        onWorker(labelWithHost(label, *session), [end, run = std::move(run)]() mutable { return run(); },
                 std::move(respond));
    };
    auto drop = [this, respond] {
        respond(stopping_ ? serviceStopping() : unauthorized(kNoSession));
    };
    switch (sessions_.requestTurn(*session, std::move(start), std::move(drop))) {
    case session::SessionManager::Turn::Started:
    case session::SessionManager::Turn::Queued:
        return;
    case session::SessionManager::Turn::Closed:
        return respond(unauthorized(kNoSession));
    case session::SessionManager::Turn::Busy: {
        busyLog_.note(QStringLiteral("Istunnon kutsuja odottaa jo enimmäismäärä, kutsu torjuttiin (429): ")
                      + QString::fromStdString(labelWithHost(label, *session)));
        HttpResponse r = HttpResponse::error(429, "Istunnon aiemmat kutsut ovat vielä kesken; yritä hetken kuluttua uudelleen.");
        r.headers.emplace_back("Retry-After", "1");
        return respond(std::move(r));
    }
    }
}

void RemoteEndpoint::closeSession(const HttpRequest& request, const transport::Respond& respond)
{
    const std::string token = bearerToken(request);
    if (token.empty() || !sessions_.close(token))
        return respond(unauthorized(kNoSession));
    HttpResponse r;
    r.status = 204;
    respond(std::move(r));
}

}  // namespace krp
