#pragma once
// The plain request and response that the transport exchanges with the application. No
// networking types: the application's request handling is testable without a socket.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace krp::transport {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
    std::string method;         // "GET", "POST", "DELETE", ...
    std::string target;         // as sent, e.g. "/api/v1/methods/Ping"
    HeaderList headers;         // in arrival order, names as sent
    std::string body;           // already decompressed
    std::string remoteAddress;  // "127.0.0.1"
    std::uint16_t remotePort = 0;
    std::string protocol = "https";

    // The first header of that name, letter case ignored; empty when absent.
    std::string_view header(std::string_view name) const;
};

struct HttpResponse {
    int status = 200;
    std::string body;                              // JSON text; empty for 204
    HeaderList headers;                            // extra headers such as WWW-Authenticate
    std::string contentType = "application/json";  // of a body that is not empty

    static HttpResponse json(int status, std::string body);
    // {"error": message} with the message escaped as a JSON string.
    static HttpResponse error(int status, std::string_view message);
};

// Sends the answer of one request: call it exactly once, from any thread. The body is
// compressed on the calling thread, the write happens on the connection's I/O strand.
using Respond = std::function<void(HttpResponse)>;

}  // namespace krp::transport
