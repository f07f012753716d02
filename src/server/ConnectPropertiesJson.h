#pragma once
// The body of a session opening: a JSON object of connect properties, names to texts.
#include "server/ClientAuthentication.h"

#include <optional>
#include <string>
#include <string_view>

namespace krp {

// The connect properties of `body`; nothing when the body is not a JSON object of texts
// (`error` then says what is wrong). Unknown members are ignored, absent ones read as empty.
// Parsed without recursion and with the nesting limit of every reader of this system, so no
// body can exhaust the thread's stack.
std::optional<ConnectProperties> readConnectProperties(std::string_view body, std::string& error);

}  // namespace krp
