#include "server/operations/OperationsEndpoint.h"

#include "db/Database.h"
#include "methods/PublishedMethods.h"
#include "metrics/Metrics.h"
#include "server/operations/OpenApiDocument.h"
#include "server/ErrorAnswers.h"
#include "shared/JsonText.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>

namespace krp {

using transport::HttpRequest;
using transport::HttpResponse;

namespace {

// An IPv4 address as an IPv6 client's text shows it ("::ffff:10.0.0.1") compares as IPv4.
std::string withoutMappedPrefix(const std::string& address)
{
    constexpr std::string_view mapped = "::ffff:";
    if (address.size() > mapped.size() && address.find('.') != std::string::npos &&
        std::equal(mapped.begin(), mapped.end(), address.begin(),
                   [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); }))
        return address.substr(mapped.size());
    return address;
}

}  // namespace

bool sameAddress(const std::string& a, const std::string& b)
{
    const std::string x = withoutMappedPrefix(a);
    const std::string y = withoutMappedPrefix(b);
    boost::system::error_code ex;
    boost::system::error_code ey;
    const auto parsedX = boost::asio::ip::make_address(x, ex);
    const auto parsedY = boost::asio::ip::make_address(y, ey);
    if (ex || ey)
        return x == y;
    return parsedX == parsedY;
}

bool isLoopbackAddress(const std::string& address)
{
    const std::string a = withoutMappedPrefix(address);
    return a.rfind("127.", 0) == 0 || a == "::1";
}

std::vector<std::string> addressList(const std::string& text)
{
    std::vector<std::string> out;
    std::string current;
    for (const char c : text + ",") {
        if (c == ',' || c == ';' || c == ' ' || c == '\t') {
            if (!current.empty())
                out.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    return out;
}

OperationsEndpoint::OperationsEndpoint(session::SessionManager& sessions, ServiceContext& service)
    : sessions_(sessions), service_(service)
{
    std::vector<std::string> names;
    for (const protocol::MethodInfo& m : publishedMethods().methods())
        names.push_back(m.name);
    metrics::counters().declareMethods(names);
}

HttpResponse OperationsEndpoint::handle(const HttpRequest& request, const Route& route)
{
    if (request.method != "GET")
        return wrongMethod(route.path);
    if (route.kind == Route::Kind::Health)
        return health();
    if (route.kind == Route::Kind::Metrics)
        return metrics(request);
    return HttpResponse::json(200, std::string(openApiJson()));
}

HttpResponse OperationsEndpoint::health()
{
    const HealthStatus status = healthCheck_.check(service_.database);
    const std::string journal =
        journalNote_.empty() ? std::string() : ",\"journal\":" + transport::jsonQuoted(journalNote_);
    if (status.ok)
        return HttpResponse::json(200, "{\"status\":\"ok\"" + journal + "}");
    HttpResponse r = HttpResponse::json(
        503, "{\"status\":\"unavailable\",\"reason\":" + transport::jsonQuoted(status.reason) + journal + "}");
    answers::addRetryAfter(r, answers::kRetryHealth);
    return r;
}

HttpResponse OperationsEndpoint::metrics(const HttpRequest& request)
{
    const std::string peer = withoutMappedPrefix(request.remoteAddress);
    const bool allowed =
        isLoopbackAddress(peer) || std::any_of(metricsReaders_.begin(), metricsReaders_.end(),
                                               [&](const std::string& a) { return sameAddress(a, peer); });
    if (!allowed)
        return HttpResponse::error(403, "The metrics are read from loopback or from an address the settings list.");

    metrics::ScrapeGauges gauges;
    gauges.openSessions = static_cast<std::int64_t>(sessions_.size());
    if (service_.database) {
        gauges.databaseOpen = service_.database->isOpen();
        const db::Database::PoolUse pool = service_.database->poolUse();
        gauges.poolConnections = pool.open;
        gauges.poolLeased = pool.leased;
        gauges.poolMax = pool.max;
    }
    HttpResponse r;
    r.status = 200;
    r.body = metrics::counters().writeExposition(gauges);
    r.contentType = "text/plain; version=0.0.4; charset=utf-8";
    return r;
}

HttpResponse OperationsEndpoint::wrongMethod(std::string_view path)
{
    return HttpResponse::error(405, std::string(path) + " is read with GET.");
}

transport::Respond OperationsEndpoint::counting(const Route& route, std::string_view method, transport::Respond respond)
{
    if (method != "POST" || (route.kind != Route::Kind::Session && route.kind != Route::Kind::Method))
        return respond;
    return [route, started = std::chrono::steady_clock::now(), respond = std::move(respond)](HttpResponse response) {
        count(route, "POST", response, started);
        respond(std::move(response));
    };
}

void OperationsEndpoint::count(const Route& route, std::string_view method, const HttpResponse& response,
                               std::chrono::steady_clock::time_point started)
{
    auto& c = metrics::counters();
    if (method != "POST")
        return;
    if (route.kind == Route::Kind::Method) {
        c.callFinished(route.name, response.status, std::chrono::steady_clock::now() - started);
        return;
    }
    if (route.kind != Route::Kind::Session)
        return;
    switch (response.status) {
    case 200: c.sessionOpened(); break;
    case 401: c.sessionRefused(metrics::SessionRefusal::Credentials); break;
    case 403: c.sessionRefused(metrics::SessionRefusal::Access); break;
    case 429: c.sessionRefused(metrics::SessionRefusal::LockedOut); break;
    case 503: c.sessionRefused(metrics::SessionRefusal::Unavailable); break;
    default: c.sessionRefused(metrics::SessionRefusal::BadRequest); break;
    }
}

}  // namespace krp
