#include "server/RemoteEndpoint.h"

#include "log/ClientText.h"
#include "log/EventLog.h"
#include "methods/PublishedMethods.h"
#include "server/ClientAuthentication.h"
#include "server/ConnectPropertiesJson.h"
#include "server/RequestCredentials.h"
#include "server/protocol/TableObject.h"
#include "server/transport/TextCut.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace krp {

using transport::HttpRequest;
using transport::HttpResponse;

namespace {

constexpr std::string_view kSessionPath = "/api/v1/session";
constexpr std::string_view kMethodsPrefix = "/api/v1/methods/";
constexpr std::string_view kProvidersPrefix = "/api/v1/providers/";

HttpResponse unauthorized(std::string_view message)
{
    HttpResponse r = HttpResponse::error(401, message);
    r.headers.emplace_back("WWW-Authenticate", "Basic realm=\"KRPalvelin\"");
    return r;
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

RemoteEndpoint::RemoteEndpoint(session::SessionManager& sessions, ServiceContext& service,
                               std::function<db::Query&()> windowQuery, MethodDispatcher methods,
                               LoginThrottleOptions throttle)
    : sessions_(sessions),
      service_(service),
      windowQuery_(std::move(windowQuery)),
      methods_(methods ? std::move(methods) : MethodDispatcher(&callPublishedMethod)),
      throttle_(throttle)
{
}

std::optional<HttpResponse> RemoteEndpoint::checkHead(const HttpRequest& request)
{
    const std::string_view path = pathOf(request.target);
    if (path == kSessionPath && request.method == "POST") {
        if (auto refusal = lockedOut(request.remoteAddress))
            return refusal;
        const auto credentials = basicCredentials(request);
        if (credentials && fixedCredentialsMatch(credentials->first, credentials->second))
            return std::nullopt;
        // Gate 1 refuses: the same answer and log lines as when the body had been read.
        DSAuthenticationManager1UserAuthenticate(credentials ? credentials->first : QString(),
                                                 credentials ? credentials->second : QString());
        openingFailed(request.remoteAddress, credentials ? credentials->first : QString());
        return unauthorized("Virheelliset kirjautumistiedot");
    }
    if (path.substr(0, kMethodsPrefix.size()) == kMethodsPrefix && request.method == "POST") {
        const std::string token = bearerToken(request);
        if (token.empty())
            return unauthorized("No session: send Authorization: Bearer <session id>.");
        if (!sessions_.find(token))
            return unauthorized("The session is unknown, has ended or has expired.");
    }
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

void RemoteEndpoint::openingFailed(const std::string& address, const QString& user)
{
    const QString from = QString::fromStdString(address);
    TekstiLokiin(QStringLiteral("Istunnon avaus hylätty: osoite ") + from + QStringLiteral(", käyttäjätunnus \"")
                 + logSafe(user) + QStringLiteral("\"."));
    const auto lock = throttle_.failed(address);
    if (lock.count() > 0)
        TekstiLokiin(QStringLiteral("Liian monta epäonnistunutta kirjautumista osoitteesta ") + from
                     + QStringLiteral("; sen kirjautumisyritykset torjutaan %1 sekunnin ajan.").arg(lock.count()));
}

HttpResponse RemoteEndpoint::handle(const HttpRequest& request)
{
    const std::string_view path = pathOf(request.target);
    if (path == kSessionPath) {
        if (request.method == "POST")
            return openSession(request);
        if (request.method == "DELETE")
            return closeSession(request);
        return HttpResponse::error(405, "Use POST to open a session and DELETE to close it.");
    }
    if (path.substr(0, kMethodsPrefix.size()) == kMethodsPrefix) {
        if (request.method != "POST")
            return HttpResponse::error(405, "Methods are called with POST.");
        return callMethod(request, std::string(path.substr(kMethodsPrefix.size())));
    }
    if (path.substr(0, kProvidersPrefix.size()) == kProvidersPrefix) {
        if (request.method != "GET")
            return HttpResponse::error(405, "Providers are read with GET.");
        return fetchProvider(request, std::string(path.substr(kProvidersPrefix.size())));
    }
    return HttpResponse::error(404, "No such path. The paths are /api/v1/session, /api/v1/methods/{Method} and /api/v1/providers/{provider}.");
}

HttpResponse RemoteEndpoint::openSession(const HttpRequest& request)
{
    // An address that failed too often is refused before anything is checked.
    if (auto refusal = lockedOut(request.remoteAddress))
        return *refusal;

    // Gate 1: the fixed application credentials.
    const auto credentials = basicCredentials(request);
    const bool valid = DSAuthenticationManager1UserAuthenticate(credentials ? credentials->first : QString(),
                                                                credentials ? credentials->second : QString());
    if (!valid) {
        openingFailed(request.remoteAddress, credentials ? credentials->first : QString());
        return unauthorized("Virheelliset kirjautumistiedot");
    }

    std::string error;
    const auto properties = readConnectProperties(request.body, error);
    if (!properties)
        return HttpResponse::error(400, error);

    // Gate 2: the connect event, run as the new session's first call.
    std::shared_ptr<session::Session> session = sessions_.create();
    try {
        sessions_.call(*session, [&](session::Session& s) {
            s.setData("RemoteHost", request.remoteAddress);
            const ChannelInfo channel{QString::fromStdString(request.remoteAddress),
                                      QString::fromStdString(request.protocol)};
            DSServer1Connect(*properties, channel, windowQuery_());
            s.setObject(std::make_shared<TServerMethods1>(service_));
        });
    } catch (const session::SessionNotFound&) {
        return HttpResponse::error(503, "The service is stopping.");
    } catch (const ConnectRefused& e) {
        sessions_.close(*session);
        openingFailed(request.remoteAddress, properties->saatu_kayttajatunnus);
        return HttpResponse::error(403, e.what());
    } catch (const std::exception& e) {
        sessions_.close(*session);
        return HttpResponse::error(403, e.what());
    }
    throttle_.succeeded(request.remoteAddress);
    return HttpResponse::json(200, "{\"session\":" + transport::jsonQuoted(session->id()) + "}");
}

HttpResponse RemoteEndpoint::inCallersSession(const HttpRequest& request,
                                              const std::function<HttpResponse(TServerMethods1&)>& work)
{
    const std::string token = bearerToken(request);
    if (token.empty())
        return unauthorized("No session: send Authorization: Bearer <session id>.");
    try {
        return sessions_.call(token, [&](session::Session& s) { return work(*s.objectAs<TServerMethods1>()); });
    } catch (const session::SessionNotFound&) {
        return unauthorized("The session is unknown, has ended or has expired.");
    }
}

HttpResponse RemoteEndpoint::callMethod(const HttpRequest& request, const std::string& method)
{
    return inCallersSession(request, [&](TServerMethods1& module) {
        const protocol::CallResult r = methods_(module, method, request.body, DSServer1Error);
        return HttpResponse::json(r.status, r.body);
    });
}

HttpResponse RemoteEndpoint::fetchProvider(const HttpRequest& request, const std::string& provider)
{
    return inCallersSession(request, [&](TServerMethods1& module) {
        db::Query* query = module.provider(QString::fromStdString(provider));
        if (!query)
            return HttpResponse::error(404, "No provider named \"" + transport::cutClientText(provider) + "\".");
        return HttpResponse::json(200, protocol::queryTableJson(*query));
    });
}

HttpResponse RemoteEndpoint::closeSession(const HttpRequest& request)
{
    const std::string token = bearerToken(request);
    if (token.empty() || !sessions_.close(token))
        return unauthorized("The session is unknown, has ended or has expired.");
    HttpResponse r;
    r.status = 204;
    return r;
}

}  // namespace krp
