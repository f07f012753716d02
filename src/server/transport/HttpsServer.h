#pragma once
// The HTTPS server of the remote methods: TLS 1.2 or newer, HTTP/1.1 with keep-alive, JSON
// bodies, compression both ways. Network I/O runs on a few I/O threads, each with an
// io_context of its own; a connection stays on the one it was accepted onto, on a strand of
// it. A request is given to the handler in one of two ways:
//   - an AsyncHandler is called on the connection's strand and answers through `respond`,
//     from any thread, when it likes: it never blocks, and hands blocking work elsewhere;
//   - a plain Handler runs on the server's own worker pool, where it may block.
//
//   HttpsServer server([](const HttpRequest& r) { return HttpResponse::json(200, "{}"); });
//   HttpsServerOptions options;
//   options.port = 14002;
//   options.certificateFile = dir + "test.pem";
//   options.keyFile = dir + "test.key";
//   server.start(options);   // throws std::runtime_error naming the cause
//   ...
//   server.stopAccepting();  // no new connections; open ones go on (a stop that drains)
//   server.stop();           // closes every connection, joins all threads; start may follow
#include "server/transport/HttpMessage.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace krp::transport {

// Called on a worker thread, never on an I/O thread; may block. An exception that escapes it
// is answered 500 with its message.
using Handler = std::function<HttpResponse(const HttpRequest&)>;

// Called on the connection's I/O strand with the request (body already decompressed); must
// not block. An exception that escapes it (before `respond` was called) is answered 500.
using AsyncHandler = std::function<void(HttpRequest&& request, Respond respond)>;

// Called on the connection's I/O strand as soon as the head of a request that carries a body
// is in, before any of the body is read or unpacked (the request's body is empty); must not
// block. An answer refuses the request: it is sent and the connection closed. Must not throw.
using HeadCheck = std::function<std::optional<HttpResponse>(const HttpRequest&)>;

// Told about a connection refused because its address holds its share, or the server is
// full: at most once a minute per address. Called on an I/O thread; must not block.
using RefusalReport = std::function<void(const std::string& address, bool addressFull)>;

// Told about a request refused because request bodies fill their memory, in all or the share
// of its address (`addressFull`). Called on an I/O thread; must not block.
using BodyMemoryReport = std::function<void(const std::string& address, bool addressFull)>;

// Told about an exception that ended one connection (the server goes on serving the others).
// Called on an I/O thread; must not block.
using ConnectionFaultReport = std::function<void(const std::string& what)>;

struct HttpsServerOptions {
    std::string address = "0.0.0.0";  // address to listen on
    std::uint16_t port = 14002;       // 0: any free port, see HttpsServer::port()
    std::string certificateFile;      // PEM certificate (chain)
    std::string keyFile;              // PEM private key, not encrypted

    unsigned ioThreads = 2;
    unsigned workerThreads = 16;                // plain Handler only: threads that may block
    std::size_t maxConnections = 4096;          // further connections are closed at once
    std::size_t maxConnectionsPerAddress = 64;  // the share of one client address

    std::size_t maxBodyBytes = 16 * 1024 * 1024;  // as received and after decompression
    // The request head; also, in all, the chunk extensions of one body and, apart, its
    // trailer fields. A connection's read buffer holds at most twice this much.
    std::size_t maxHeaderBytes = 16 * 1024;
    std::size_t compressAbove = 1024;  // response bodies longer than this are compressed
    // Request bodies held at once across all connections, as received and unpacked; a body
    // that does not fit is answered 503 with Retry-After.
    std::size_t maxBodyMemoryBytes = std::size_t{256} * 1024 * 1024;
    // What the requests of one client address may hold of it; 0: a quarter of it. Never less
    // than what one body of maxBodyBytes costs (bodyCostFactor times its bytes).
    std::size_t maxBodyMemoryPerAddressBytes = 0;
    // What a body costs while the application parses it and converts its values, as a multiple
    // of its bytes: a JSON list of records of 16 MiB peaks at 3.9 times its size (the body, its
    // parsed document and the records). A request leases this much of the body memory until
    // its answer is there, so the budget bounds what the bodies in work really hold.
    std::size_t bodyCostFactor = 4;

    std::chrono::milliseconds handshakeTimeout{5'000};
    std::chrono::milliseconds idleTimeout{60'000};   // keep-alive wait and request head
    std::chrono::milliseconds bodyTimeout{120'000};  // rest of the request
    std::chrono::milliseconds writeTimeout{60'000};

    HeadCheck checkHead;  // empty: every head passes
    RefusalReport onRefusedConnection;
    BodyMemoryReport onBodyMemoryFull;
    ConnectionFaultReport onConnectionFault;
};

class HttpsServer {
public:
    explicit HttpsServer(Handler handler);
    explicit HttpsServer(AsyncHandler handler);
    ~HttpsServer();  // stops
    HttpsServer(const HttpsServer&) = delete;
    HttpsServer& operator=(const HttpsServer&) = delete;

    // Loads the certificate and key, binds and starts listening. Throws std::runtime_error
    // with an operator-readable message (missing or unreadable file, key that does not fit
    // the certificate, address or port not available); the server then stays stopped.
    // Throws std::logic_error when already started.
    void start(const HttpsServerOptions& options);

    // Stops listening and refuses further connections; the open ones stay and are served.
    // Nothing happens when stopped.
    void stopAccepting();

    // Requests whose headers have been read and whose answers have not yet been written (or
    // whose connection has not yet gone); 0 when stopped.
    std::size_t requestsInFlight() const;

    // Stops listening, closes every connection, waits for running plain handlers and joins
    // the threads. An answer not yet written is lost. Nothing happens when stopped. Not to be
    // called from within the handler.
    //
    // An asynchronous handler may still answer a request after the stop, from any thread: its
    // `Respond` keeps what it touches (the connection, the I/O context) until it goes, and the
    // answer is dropped unwritten.
    void stop();

    bool isStarted() const;

    // The port being listened on (the chosen one when started with port 0); 0 when stopped.
    std::uint16_t port() const;

private:
    struct Running;
    Handler handler_;
    AsyncHandler asyncHandler_;
    mutable std::mutex mutex_;
    std::unique_ptr<Running> running_;
};

}  // namespace krp::transport
