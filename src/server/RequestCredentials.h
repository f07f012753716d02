#pragma once
// What a request says about where it goes and who sends it, read from its target and its
// Authorization header. Pure functions of the request.
#include "server/transport/HttpMessage.h"

#include <QString>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace krp {

// The path of a target, without its query.
std::string_view pathOf(std::string_view target);

// "Basic base64(user:password)": the user and password, or nothing when absent or malformed.
std::optional<std::pair<QString, QString>> basicCredentials(const transport::HttpRequest& request);

// "Bearer <session id>", or the empty text.
std::string bearerToken(const transport::HttpRequest& request);

}  // namespace krp
