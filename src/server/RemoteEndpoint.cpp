#include "server/RemoteEndpoint.h"

#include "log/EventLog.h"
#include "methods/PublishedMethods.h"
#include "server/RequestCredentials.h"
#include "server/session/IdempotencyStore.h"
#include "shared/NoCase.h"

#include <chrono>
#include <memory>

namespace krp {

using transport::HttpRequest;
using transport::HttpResponse;

namespace {

// The value of the request's Idempotency-Key header; nothing when it has none.
std::optional<std::string> idempotencyKey(const HttpRequest& request)
{
    for (const auto& [name, value] : request.headers) {
        if (transport::equalsNoCase(name, "Idempotency-Key"))
            return value;
    }
    return std::nullopt;
}

}  // namespace

RemoteEndpoint::RemoteEndpoint(session::SessionManager& sessions, ServiceContext& service, BlockingExecutor blocking,
                               const MethodModule* module, LoginThrottleOptions throttle)
    : sessions_(sessions), module_(module ? *module : publishedModule()), blocking_(std::move(blocking)),
      busyLog_(&TekstiLokiin), calls_{sessions_, blocking_, stopping_, running_, keyed_, busyLog_},
      gates_(sessions, service, blocking_, throttle), operations_(sessions, service), console_(sessions, service)
{
    keyed_.writes = [this](std::string_view method) {
        const protocol::MethodInfo* info = module_.find(method);
        return info && info->effect == protocol::Effect::Writes;
    };
    gates_.setModule(module_);
}

std::optional<HttpResponse> RemoteEndpoint::checkHead(const HttpRequest& request)
{
    const auto started = std::chrono::steady_clock::now();
    const Route route = routeOf(request.target);
    std::optional<HttpResponse> refusal = refuseHead(request, route);
    if (refusal)  // counted for the metrics like an answer after the body
        OperationsEndpoint::count(route, request.method, *refusal, started);
    return refusal;
}

std::optional<HttpResponse> RemoteEndpoint::refuseHead(const HttpRequest& request, const Route& route)
{
    // During a stop the request goes on to handle(), whose 503 keeps the connection open.
    if (stopping_)
        return std::nullopt;
    if (route.kind == Route::Kind::Session && request.method == "POST")
        return gates_.checkHead(request);
    // Every other body is read only for a caller with a live session: a stranger holds no
    // body memory that others need.
    if (route.isOperator())
        return request.method != "GET" ? OperationsEndpoint::wrongMethod(route.path)
                                       : HttpResponse::error(400, "This path takes no request body.");
    if (!route.isProtocol())
        return HttpResponse::error(404, answers::kNoSuchPath);
    const std::string token = bearerToken(request);
    if (token.empty())
        return answers::unauthorized(answers::kNoBearer);
    if (!sessions_.find(token))
        return answers::unauthorized(answers::kNoSession);
    return std::nullopt;
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

void RemoteEndpoint::handle(HttpRequest&& request, transport::Respond respond)
{
    // Answered here on the I/O thread from copies, also while the service stops (it shows so).
    if (ConsoleEndpoint::isConsolePath(request))
        return respond(console_.handle(request, stopping_));
    if (stopping_)
        return respond(answers::serviceStopping());
    const Route route = routeOf(request.target);
    if (route.isOperator()) {
        // Health may wait up to its deadline for the database: on a worker.
        auto operatorRequest = std::make_shared<HttpRequest>(std::move(request));
        return onWorker(
            route.path, [this, operatorRequest, route] { return operations_.handle(*operatorRequest, route); },
            std::move(respond));
    }
    respond = OperationsEndpoint::counting(route, request.method, std::move(respond));
    switch (route.kind) {
    case Route::Kind::Session:
        if (request.method == "POST") {
            std::string label = "istunnon avaus (" + request.remoteAddress + ")";
            auto opening = std::make_shared<HttpRequest>(std::move(request));
            return onWorker(
                std::move(label), [this, opening] { return gates_.open(*opening, stopping_); }, std::move(respond));
        }
        if (request.method == "DELETE")
            return closeSession(request, respond);
        return respond(HttpResponse::error(405, "Use POST to open a session and DELETE to close it."));
    case Route::Kind::Method: {
        if (request.method != "POST")
            return respond(HttpResponse::error(405, "Methods are called with POST."));
        auto key = idempotencyKey(request);
        if (key && !session::IdempotencyStore::validKey(*key))
            return respond(
                HttpResponse::error(400, "Idempotency-Key must be 1 to 64 characters from A-Z a-z 0-9 - _ . :"));
        return RemoteCall::method(calls_, bearerToken(request), route.name, module_.find(route.name), std::move(key),
                                  std::move(request.body), std::move(respond));
    }
    case Route::Kind::Provider:
        if (request.method != "GET")
            return respond(HttpResponse::error(405, "Providers are read with GET."));
        return RemoteCall::provider(calls_, bearerToken(request), route.name, std::move(respond));
    default: return respond(HttpResponse::error(404, answers::kNoSuchPath));
    }
}

void RemoteEndpoint::onWorker(std::string label, std::function<HttpResponse()> work, transport::Respond respond)
{
    blocking_([this, label = std::move(label), work = std::move(work), respond = std::move(respond)] {
        if (stopping_)
            return respond(answers::serviceStopping());
        const std::uint64_t number = running_.add(label);
        HttpResponse answer;
        try {
            answer = work();
        } catch (...) {
            answer = answers::failureAnswer(std::current_exception(), answers::FailedIn::Call);
        }
        running_.remove(number);
        respond(std::move(answer));
    });
}

void RemoteEndpoint::closeSession(const HttpRequest& request, const transport::Respond& respond)
{
    const std::string token = bearerToken(request);
    if (token.empty() || !sessions_.close(token))
        return respond(answers::unauthorized(answers::kNoSession));
    HttpResponse r;
    r.status = 204;
    respond(std::move(r));
}

}  // namespace krp
