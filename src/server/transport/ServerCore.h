#pragma once
// Inside the HTTPS server: what the listener and the connections share while it runs.
#include "server/transport/AddressAdmission.h"
#include "server/transport/BodyMemoryBudget.h"
#include "server/transport/HttpsServer.h"
#include "server/transport/TlsStream.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace krp::transport {

// One accepted client connection, as the server sees it from outside.
class Connection {
public:
    virtual ~Connection() = default;
    // Closes the socket on the connection's own strand; callable from any thread.
    virtual void close() = 0;
    // Closes the socket on the calling thread. Only while no thread runs the connection's
    // io_context (the stop, after its I/O threads ended).
    virtual void closeNow() = 0;
};

// Shared by the server while it runs and by each `Respond` of a request with the handler, so
// that an answer given after the stop (a call cut by the stop's deadline finishing on its
// worker) still finds the connection and the io_context, and its thread has left the
// io_context before it goes.
class ServerCore : public std::enable_shared_from_this<ServerCore> {
public:
    ServerCore(HttpsServerOptions options, AsyncHandler handler, boost::asio::ssl::context tls);

    const HttpsServerOptions options;
    const AsyncHandler handler;
    boost::asio::ssl::context tls;
    // Requests handed to the handler and not yet answered on the wire.
    std::atomic<std::size_t> inFlight{0};
    AddressAdmission admission;
    BodyMemoryBudget bodyMemory;

    // Registers a new connection (admitted before); false when the server is stopping.
    bool add(const std::shared_ptr<Connection>& connection);
    void remove(const Connection* connection);
    // Refuses new connections from now on.
    void refuseNew();
    // Refuses new connections and closes the current ones.
    void closeAll();
    // Closes the sockets of the connections still alive on the calling thread (closeNow):
    // those whose close an I/O thread did not get to before the stop ended it.
    void closeRemainingNow();

private:
    std::mutex mutex_;
    bool closing_ = false;
    std::unordered_map<const Connection*, std::weak_ptr<Connection>> connections_;
    std::size_t mostSinceGiveBack_ = 0;  // most connections open at once since memory went back

public:
    // One io_context per I/O thread, each run by its thread alone. A connection stays on the
    // context it was accepted onto, so its reads, its answer and its next request never pass
    // from one I/O thread to the other; the listener lives on the first.
    boost::asio::io_context& listenerContext() { return *ioContexts.front(); }
    // The contexts in turn, for the next accepted connection.
    boost::asio::io_context& nextContext()
    {
        return *ioContexts[nextContext_.fetch_add(1, std::memory_order_relaxed) % ioContexts.size()];
    }

private:
    std::atomic<std::size_t> nextContext_{0};

public:
    // The io_contexts go last so that they are destroyed first: the connections they still
    // hold unregister themselves while the rest is alive.
    std::vector<std::unique_ptr<boost::asio::io_context>> ioContexts;
};

// Takes over an accepted socket: TLS handshake, then requests until the client leaves.
void serveConnection(ServerCore& core, StrandSocket socket);

}  // namespace krp::transport
