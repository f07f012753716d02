#pragma once
// Where a request goes, read once from its target: the protocol's four paths, the operator
// paths, and everything else. The endpoint routes on it, and the operations endpoint counts
// and answers with it.
#include <string>
#include <string_view>

namespace krp {

namespace paths {

inline constexpr std::string_view kSession = "/api/v1/session";
inline constexpr std::string_view kMethodsPrefix = "/api/v1/methods/";
inline constexpr std::string_view kProvidersPrefix = "/api/v1/providers/";
inline constexpr std::string_view kHealth = "/api/v1/health";
inline constexpr std::string_view kMetrics = "/metrics";
inline constexpr std::string_view kOpenApi = "/api/v1/openapi.json";

// A request target without its query ("/api/v1/health?x=1" -> "/api/v1/health").
inline std::string_view pathOf(std::string_view target)
{
    const auto q = target.find('?');
    return q == std::string_view::npos ? target : target.substr(0, q);
}

}  // namespace paths

struct Route {
    enum class Kind { Session, Method, Provider, Health, Metrics, OpenApi, Unknown };

    Kind kind = Kind::Unknown;
    std::string path;  // the target without its query
    std::string name;  // of the method or provider; empty otherwise

    // GET /api/v1/health, /metrics and /api/v1/openapi.json: no credentials.
    bool isOperator() const { return kind == Kind::Health || kind == Kind::Metrics || kind == Kind::OpenApi; }
    // The paths that need an open session or open one.
    bool isProtocol() const { return kind == Kind::Session || kind == Kind::Method || kind == Kind::Provider; }
};

inline Route routeOf(std::string_view target)
{
    Route route;
    const std::string_view path = paths::pathOf(target);
    route.path = std::string(path);
    const auto named = [&](std::string_view prefix, Route::Kind kind) {
        if (path.substr(0, prefix.size()) != prefix)
            return false;
        route.kind = kind;
        route.name = std::string(path.substr(prefix.size()));
        return true;
    };
    if (path == paths::kSession)
        route.kind = Route::Kind::Session;
    else if (path == paths::kHealth)
        route.kind = Route::Kind::Health;
    else if (path == paths::kMetrics)
        route.kind = Route::Kind::Metrics;
    else if (path == paths::kOpenApi)
        route.kind = Route::Kind::OpenApi;
    else if (!named(paths::kMethodsPrefix, Route::Kind::Method))
        named(paths::kProvidersPrefix, Route::Kind::Provider);
    return route;
}

}  // namespace krp
