#pragma once
#include <string>

namespace krp::session {

// A new session id: 192 bits from OpenSSL's random generator as 32 base64url characters.
// Throws std::runtime_error when the generator fails.
std::string newSessionId();

}  // namespace krp::session
