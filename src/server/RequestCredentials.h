#pragma once
// Who sends a request, read from its Authorization header. Pure functions of the request.
#include "server/transport/HttpMessage.h"

#include <QString>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace krp {

// "Basic base64(user:password)": the user and password, or nothing when absent or malformed.
std::optional<std::pair<QString, QString>> basicCredentials(const transport::HttpRequest& request);

// "Bearer <session id>", or the empty text.
std::string bearerToken(const transport::HttpRequest& request);

}  // namespace krp
