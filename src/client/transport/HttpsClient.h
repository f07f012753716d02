#pragma once
// A blocking HTTPS client for the server's JSON API: one connection kept alive between
// requests, request bodies compressed when asked to, response bodies decompressed.
//
//   HttpsClientOptions options;
//   options.port = 14002;
//   HttpsClient client(options);
//   auto r = client.request("POST", "/api/v1/session", R"({"Application":"Kairanet"})",
//                           {{"Authorization", "Basic ..."}});
//   if (r.status == 200) ... r.body ...
//
// Not thread-safe: one client per thread.
#include "shared/ContentCoding.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace krp::client {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The server could not be reached, the TLS handshake failed, the connection broke or a
// step took longer than the timeout.
class HttpsClientError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct HttpsClientOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = 14002;
    // Check the server's certificate against `caFile` (PEM) or the system's trusted ones, and
    // that it is made out to `host` (name or IP address). Off by default: the server's
    // certificate is usually self-signed.
    bool verifyPeer = false;
    std::string caFile;
    // Accept-Encoding sent with every request; empty: none (the server does not compress).
    std::string acceptEncoding = "deflate, gzip";
    // Request bodies longer than `compressRequestsAbove` are sent in this coding.
    transport::ContentCoding requestCoding = transport::ContentCoding::Identity;
    std::size_t compressRequestsAbove = 1024;
    std::size_t maxResponseBytes = 256 * 1024 * 1024;  // after decompression as well
    std::chrono::milliseconds timeout{30'000};         // per step: connect, handshake, write, read
};

struct HttpsClientResponse {
    int status = 0;
    HeaderList headers;
    std::string body;              // decompressed
    std::string contentEncoding;   // as the server sent it; empty when none
    std::size_t wireBodySize = 0;  // body bytes as they came over the wire

    // The first header of that name, letter case ignored; empty when absent.
    std::string_view header(std::string_view name) const;
};

class HttpsClient {
public:
    explicit HttpsClient(HttpsClientOptions options = {});
    ~HttpsClient();
    HttpsClient(const HttpsClient&) = delete;
    HttpsClient& operator=(const HttpsClient&) = delete;

    // Sends one request and waits for the answer. Connects first when not connected; a kept-
    // alive connection that the server has closed meanwhile is replaced once, transparently.
    // Throws HttpsClientError.
    HttpsClientResponse request(std::string_view method, std::string_view target, std::string_view body = {},
                                const HeaderList& headers = {});

    void disconnect();
    bool isConnected() const;
    // How many connections this client has opened so far.
    std::size_t connectionsOpened() const;

    const HttpsClientOptions& options() const { return options_; }

private:
    struct Impl;
    HttpsClientOptions options_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace krp::client
