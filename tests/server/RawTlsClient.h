#pragma once
// A bare TLS (or plain TCP) connection to the server on loopback, for sending bytes that no
// well-behaved HTTP client would send.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace krp::test {

class RawTlsClient {
public:
    // Connects to 127.0.0.1:port, from `from` (another loopback address, to act as another
    // host) when given. `configure` may restrict the TLS versions and so on.
    explicit RawTlsClient(std::uint16_t port, const std::function<void(SSL_CTX*)>& configure = {},
                          const std::string& from = {});
    ~RawTlsClient();

    // True when the TLS handshake succeeded.
    bool handshake(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Sends bytes over TLS; false when the connection is gone.
    bool send(std::string_view bytes, std::chrono::milliseconds limit = std::chrono::seconds(30));
    // Sends bytes on the TCP connection itself, beside TLS.
    bool sendPlain(std::string_view bytes);
    // Closes the TCP connection at once, without a TLS goodbye.
    void abort();

    // Reads over TLS until the server closes or `limit` passes; returns what arrived.
    std::string readUntilClosed(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Reads over TLS until a complete response head ("\r\n\r\n") has arrived, the server
    // closes, or `limit` passes.
    std::string readHead(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Whether the last read ended because the server closed the connection.
    bool closedByServer() const;
    // Reads on the TCP connection itself (no TLS) until the server closes it or `limit`
    // passes; true when it closed.
    bool waitForPlainClose(std::chrono::milliseconds limit);
    // The TLS connection, for looking at what was negotiated.
    SSL* nativeHandle();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The status code of a raw HTTP response ("HTTP/1.1 413 ..." -> 413); 0 when there is none.
int statusOf(const std::string& response);

}  // namespace krp::test
