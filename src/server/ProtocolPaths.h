#pragma once
// The paths of the wire protocol that the endpoint and the operator paths both route on.
#include <string_view>

namespace krp::paths {

inline constexpr std::string_view kSession = "/api/v1/session";
inline constexpr std::string_view kMethodsPrefix = "/api/v1/methods/";
inline constexpr std::string_view kProvidersPrefix = "/api/v1/providers/";

// A request target without its query ("/api/v1/health?x=1" -> "/api/v1/health").
inline std::string_view pathOf(std::string_view target)
{
    const auto q = target.find('?');
    return q == std::string_view::npos ? target : target.substr(0, q);
}

}  // namespace krp::paths
