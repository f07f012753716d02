#include "server/transport/HttpsServer.h"

#include "platform/core/ProcessResources.h"
#include "server/transport/RequestPipeline.h"
#include "server/transport/ServerCore.h"
#include "server/transport/TlsServerContext.h"
#include "metrics/Metrics.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>

#include <algorithm>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

namespace krp::transport {

namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

// What the connections of one address may lease of the body memory: a quarter of it unless
// set, and never less than what one body of the largest size costs.
std::size_t bodyMemoryShare(const HttpsServerOptions& options)
{
    const std::size_t share = options.maxBodyMemoryPerAddressBytes > 0 ? options.maxBodyMemoryPerAddressBytes
                                                                       : options.maxBodyMemoryBytes / 4;
    return std::max(share, bodyCost(options.maxBodyBytes, options));
}

void reportConnectionFault(ServerCore& core, const char* what) noexcept
{
    try {
        if (core.options.onConnectionFault)
            core.options.onConnectionFault(what);
    } catch (...) {
        // the report is lost; the thread goes on
    }
}

}  // namespace

ServerCore::ServerCore(HttpsServerOptions options_, AsyncHandler handler_, net::ssl::context tls_)
    : options(std::move(options_)), handler(std::move(handler_)), tls(std::move(tls_)),
      admission(options.maxConnections, options.maxConnectionsPerAddress),
      bodyMemory(options.maxBodyMemoryBytes, bodyMemoryShare(options), &platform::giveBackFreeMemory)
{
    const unsigned threads = options.ioThreads == 0 ? 1 : options.ioThreads;
    for (unsigned i = 0; i < threads; ++i)
        ioContexts.push_back(std::make_unique<net::io_context>(1));
}

bool ServerCore::add(const std::shared_ptr<Connection>& connection)
{
    std::lock_guard lock(mutex_);
    if (closing_)
        return false;
    connections_.emplace(connection.get(), connection);
    mostSinceGiveBack_ = std::max(mostSinceGiveBack_, connections_.size());
    metrics::counters().connectionOpened();
    return true;
}

void ServerCore::remove(const Connection* connection)
{
    // After a burst of connections (each held some tens of KiB of TLS and HTTP state while it
    // lived), once most of them are gone: the allocator keeps what they freed unless told.
    constexpr std::size_t burst = 256;
    bool giveBack = false;
    {
        std::lock_guard lock(mutex_);
        if (connections_.erase(connection) > 0)
            metrics::counters().connectionClosed();
        if (mostSinceGiveBack_ >= burst && connections_.size() <= mostSinceGiveBack_ / 4) {
            giveBack = true;
            mostSinceGiveBack_ = connections_.size();
        }
    }
    if (giveBack)
        platform::giveBackFreeMemory();
}

void ServerCore::refuseNew()
{
    std::lock_guard lock(mutex_);
    closing_ = true;
}

void ServerCore::closeAll()
{
    std::vector<std::shared_ptr<Connection>> open;
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        for (const auto& [key, weak] : connections_)
            if (auto connection = weak.lock())
                open.push_back(std::move(connection));
    }
    for (const auto& connection : open)
        connection->close();
}

void ServerCore::closeRemainingNow()
{
    std::vector<std::shared_ptr<Connection>> open;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [key, weak] : connections_)
            if (auto connection = weak.lock())
                open.push_back(std::move(connection));
    }
    for (const auto& connection : open)
        connection->closeNow();
}

namespace {

// Accepts connections, each onto its own strand, until closed. The acceptor, its retry timer
// and `closed_` live on the acceptor's own strand: every handler and close() run there, so
// close() never runs beside onAccept() on the other I/O thread.
class Listener : public std::enable_shared_from_this<Listener> {
public:
    Listener(ServerCore& core, tcp::acceptor acceptor)
        : core_(core), acceptor_(std::move(acceptor)), retryTimer_(acceptor_.get_executor())
    {
    }

    // Both run on the acceptor's strand (executor()).
    void run() { accept(); }

    void close()
    {
        closed_ = true;
        boost::system::error_code ignored;
        acceptor_.close(ignored);
        retryTimer_.cancel();
    }

    const tcp::acceptor::executor_type& executor() { return acceptor_.get_executor(); }

private:
    void accept()
    {
        acceptor_.async_accept(net::make_strand(core_.nextContext()),
                               [self = shared_from_this()](boost::system::error_code ec, StrandSocket socket) {
                                   self->onAccept(ec, std::move(socket));
                               });
    }

    void onAccept(boost::system::error_code ec, StrandSocket socket)
    {
        if (closed_ || ec == net::error::operation_aborted)
            return;
        if (ec) {
            // Out of descriptors or a similar passing condition: wait a moment, then go on.
            retryTimer_.expires_after(std::chrono::milliseconds(100));
            retryTimer_.async_wait([self = shared_from_this()](boost::system::error_code e) {
                if (!e && !self->closed_)
                    self->accept();
            });
            return;
        }
        serveConnection(core_, std::move(socket));
        accept();
    }

    ServerCore& core_;
    tcp::acceptor acceptor_;
    net::steady_timer retryTimer_;
    bool closed_ = false;
};

tcp::endpoint endpointOf(const HttpsServerOptions& options)
{
    boost::system::error_code ec;
    const auto address = net::ip::make_address(options.address, ec);
    if (ec)
        throw std::runtime_error("Kuunneltava osoite \"" + options.address + "\" ei kelpaa.");
    return {address, options.port};
}

tcp::acceptor openAcceptor(net::io_context& io, const HttpsServerOptions& options)
{
    const tcp::endpoint endpoint = endpointOf(options);
    const auto where =
        "Porttia " + std::to_string(options.port) + " (osoite " + options.address + ") ei voitu ottaa käyttöön: ";
    tcp::acceptor acceptor(net::make_strand(io));
    boost::system::error_code ec;
    acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec)
        acceptor.bind(endpoint, ec);
    if (ec == net::error::address_in_use)
        throw std::runtime_error(where + "portti on jo toisen ohjelman käytössä.");
    if (ec == net::error::access_denied)
        throw std::runtime_error(where + "ei oikeutta (" + ec.message() + ").");
    if (!ec)
        acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec)
        throw std::runtime_error(where + ec.message());
    return acceptor;
}

}  // namespace

struct HttpsServer::Running {
    std::unique_ptr<net::thread_pool> workers;  // plain Handler only
    std::shared_ptr<ServerCore> core;           // shared with every Respond not yet gone
    std::shared_ptr<Listener> listener;
    std::vector<std::thread> ioThreads;
    std::uint16_t port = 0;
};

HttpsServer::HttpsServer(Handler handler) : handler_(std::move(handler))
{
    if (!handler_)
        throw std::invalid_argument("HttpsServer: no request handler");
}

HttpsServer::HttpsServer(AsyncHandler handler) : asyncHandler_(std::move(handler))
{
    if (!asyncHandler_)
        throw std::invalid_argument("HttpsServer: no request handler");
}

HttpsServer::~HttpsServer()
{
    stop();
}

void HttpsServer::start(const HttpsServerOptions& options)
{
    std::lock_guard lock(mutex_);
    if (running_)
        throw std::logic_error("HttpsServer: already started");

    auto running = std::make_unique<Running>();
    AsyncHandler handler = asyncHandler_;
    if (!handler) {
        // A plain handler may block: it runs on a worker, and answers from there.
        running->workers = std::make_unique<net::thread_pool>(options.workerThreads == 0 ? 1 : options.workerThreads);
        handler = [&pool = *running->workers, plain = handler_](HttpRequest&& request, Respond respond) {
            net::post(pool, [&plain, request = std::move(request), respond = std::move(respond)] {
                respond(callHandler(plain, request));
            });
        };
    }
    running->core = std::make_shared<ServerCore>(options, std::move(handler),
                                                 makeTlsServerContext(options.certificateFile, options.keyFile));
    ServerCore& core = *running->core;

    tcp::acceptor acceptor = openAcceptor(core.listenerContext(), options);
    running->port = acceptor.local_endpoint().port();
    running->listener = std::make_shared<Listener>(core, std::move(acceptor));
    net::dispatch(running->listener->executor(), [listener = running->listener] { listener->run(); });

    for (auto& context : core.ioContexts)
        running->ioThreads.emplace_back([&io = *context, &core] {
            auto guard = net::make_work_guard(io);
            // An exception out of a connection's step (the HTTP parser's, say) ends that
            // connection only: its handler, and with it the connection, went as it unwound.
            // The thread goes on serving the others.
            for (;;) {
                try {
                    io.run();
                    return;
                } catch (const std::exception& e) {
                    reportConnectionFault(core, e.what());
                } catch (...) {
                    reportConnectionFault(core, "unknown exception");
                }
            }
        });
    running_ = std::move(running);
}

namespace {

void closeListener(ServerCore& core, const std::shared_ptr<Listener>& listener)
{
    core.refuseNew();
    std::promise<void> listenerClosed;
    net::dispatch(listener->executor(), [&] {
        listener->close();
        listenerClosed.set_value();
    });
    listenerClosed.get_future().wait();
}

}  // namespace

void HttpsServer::stopAccepting()
{
    std::lock_guard lock(mutex_);
    if (running_)
        closeListener(*running_->core, running_->listener);
}

std::size_t HttpsServer::requestsInFlight() const
{
    std::lock_guard lock(mutex_);
    return running_ ? running_->core->inFlight.load() : 0;
}

void HttpsServer::stop()
{
    std::lock_guard lock(mutex_);
    if (!running_)
        return;
    auto running = std::move(running_);
    ServerCore& core = *running->core;

    // Stop accepting, then close the open connections.
    closeListener(core, running->listener);
    core.closeAll();

    // Plain handlers still running finish; their answers find the connections closed.
    if (running->workers)
        running->workers->join();
    for (auto& context : core.ioContexts)
        context->stop();
    for (auto& thread : running->ioThreads)
        thread.join();
    // A close posted above that the stopped I/O threads did not run: the connection may live
    // on in a call cut by a stop's deadline (its `Respond`), and its client must not wait for it.
    core.closeRemainingNow();
    running->listener.reset();
    // The core goes now, or with the last `Respond` of a request still with the handler.
    running.reset();
}

bool HttpsServer::isStarted() const
{
    std::lock_guard lock(mutex_);
    return running_ != nullptr;
}

std::uint16_t HttpsServer::port() const
{
    std::lock_guard lock(mutex_);
    return running_ ? running_->port : 0;
}

}  // namespace krp::transport
