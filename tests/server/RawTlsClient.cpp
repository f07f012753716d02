#include "RawTlsClient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/write.hpp>

#include <vector>

namespace krp::test {

namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;

struct RawTlsClient::Impl {
    net::io_context io;
    ssl::context tls{ssl::context::tls_client};
    std::unique_ptr<ssl::stream<tcp::socket>> stream;
    bool closed = false;

    // Runs one asynchronous step for at most `limit`; false when it did not finish in time.
    template <class Start>
    bool run(Start&& start, boost::system::error_code& result, std::chrono::milliseconds limit)
    {
        bool done = false;
        start([&](boost::system::error_code ec, auto&&...) {
            result = ec;
            done = true;
        });
        io.restart();
        io.run_for(limit);
        const bool inTime = done;
        if (!inTime) {  // let the step finish, cancelled, before going on
            boost::system::error_code ignored;
            stream->lowest_layer().cancel(ignored);
            io.restart();
            io.run();
        }
        return inTime;
    }
};

RawTlsClient::RawTlsClient(std::uint16_t port, const std::function<void(SSL_CTX*)>& configure, const std::string& from)
    : impl_(std::make_unique<Impl>())
{
    impl_->tls.set_verify_mode(ssl::verify_none);
    if (configure)
        configure(impl_->tls.native_handle());
    impl_->stream = std::make_unique<ssl::stream<tcp::socket>>(impl_->io, impl_->tls);
    if (!from.empty()) {
        impl_->stream->lowest_layer().open(tcp::v4());
        impl_->stream->lowest_layer().bind(tcp::endpoint(net::ip::make_address(from), 0));
    }
    impl_->stream->lowest_layer().connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
}

RawTlsClient::~RawTlsClient() = default;

bool RawTlsClient::handshake(std::chrono::milliseconds limit)
{
    boost::system::error_code ec;
    const bool done =
        impl_->run([&](auto handler) { impl_->stream->async_handshake(ssl::stream_base::client, handler); }, ec, limit);
    return done && !ec;
}

bool RawTlsClient::send(std::string_view bytes, std::chrono::milliseconds limit)
{
    boost::system::error_code ec;
    const bool done =
        impl_->run([&](auto handler) { net::async_write(*impl_->stream, net::buffer(bytes), handler); }, ec, limit);
    return done && !ec;
}

bool RawTlsClient::sendPlain(std::string_view bytes)
{
    boost::system::error_code ec;
    net::write(impl_->stream->next_layer(), net::buffer(bytes), ec);
    return !ec;
}

void RawTlsClient::abort()
{
    boost::system::error_code ignored;
    impl_->stream->lowest_layer().close(ignored);
}

namespace {

// Reads until `enough(received)` holds, the server closes, or `limit` passes.
template <class Impl, class Enough>
std::string readUntil(Impl& impl, std::chrono::milliseconds limit, Enough enough)
{
    std::string received;
    const auto until = std::chrono::steady_clock::now() + limit;
    impl.closed = false;
    std::vector<char> buffer(64 * 1024);
    while (!enough(received) && std::chrono::steady_clock::now() < until) {
        boost::system::error_code ec;
        std::size_t n = 0;
        const bool done = impl.run(
            [&](auto handler) {
                impl.stream->async_read_some(net::buffer(buffer),
                                             [&, handler](boost::system::error_code e, std::size_t k) {
                                                 n = k;
                                                 handler(e);
                                             });
            },
            ec, std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()));
        received.append(buffer.data(), n);
        if (!done)
            break;
        if (ec) {
            impl.closed = true;
            break;
        }
    }
    return received;
}

}  // namespace

std::string RawTlsClient::readUntilClosed(std::chrono::milliseconds limit)
{
    return readUntil(*impl_, limit, [](const std::string&) { return false; });
}

std::string RawTlsClient::readHead(std::chrono::milliseconds limit)
{
    return readUntil(*impl_, limit,
                     [](const std::string& received) { return received.find("\r\n\r\n") != std::string::npos; });
}

bool RawTlsClient::closedByServer() const
{
    return impl_->closed;
}

bool RawTlsClient::waitForPlainClose(std::chrono::milliseconds limit)
{
    char byte = 0;
    boost::system::error_code ec;
    const bool done = impl_->run(
        [&](auto handler) {
            impl_->stream->next_layer().async_read_some(
                net::buffer(&byte, 1), [handler](boost::system::error_code e, std::size_t) { handler(e); });
        },
        ec, limit);
    return done && ec;
}

SSL* RawTlsClient::nativeHandle()
{
    return impl_->stream->native_handle();
}

int statusOf(const std::string& response)
{
    if (response.rfind("HTTP/1.", 0) != 0 || response.size() < 12)
        return 0;
    try {
        return std::stoi(response.substr(9, 3));
    } catch (...) {
        return 0;
    }
}

}  // namespace krp::test
