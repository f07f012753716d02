#pragma once
// JSON text that every answer of the server shares: quoted strings and the error body.
#include <string>
#include <string_view>

namespace krp::transport {

// `text` as a JSON string literal, quotes included. Bytes that are not well-formed UTF-8
// become U+FFFD, so the result is always valid JSON.
std::string jsonQuoted(std::string_view text);

// The body of every error answer: {"error": "message"}, the message mended as above.
std::string errorBody(std::string_view message);

}  // namespace krp::transport
