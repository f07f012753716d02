#include "client/transport/HttpsClient.h"
#include "shared/NoCase.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <optional>

namespace krp::client {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;
using transport::ContentCoding;

namespace {

ssl::context makeTlsContext(const HttpsClientOptions& options)
{
    ssl::context context(ssl::context::tls_client);
    SSL_CTX_set_min_proto_version(context.native_handle(), TLS1_2_VERSION);
    if (options.verifyPeer) {
        context.set_verify_mode(ssl::verify_peer);
        if (options.caFile.empty())
            context.set_default_verify_paths();
        else
            context.load_verify_file(options.caFile);
    } else {
        context.set_verify_mode(ssl::verify_none);
    }
    return context;
}

}  // namespace

std::string_view HttpsClientResponse::header(std::string_view name) const
{
    for (const auto& [key, value] : headers)
        if (transport::equalsNoCase(key, name))
            return value;
    return {};
}

struct HttpsClient::Impl {
    explicit Impl(const HttpsClientOptions& options) : tls(makeTlsContext(options)) {}

    net::io_context io;
    ssl::context tls;
    std::optional<beast::ssl_stream<beast::tcp_stream>> stream;
    beast::flat_buffer buffer;
    std::size_t opened = 0;

    // Runs the asynchronous operation started by `start` to its end; the stream's deadline
    // turns a stalled step into error::timeout.
    template <class Start>
    beast::error_code run(Start&& start)
    {
        beast::error_code result = net::error::would_block;
        start([&result](beast::error_code ec, auto&&...) { result = ec; });
        io.restart();
        io.run();
        return result;
    }
};

HttpsClient::HttpsClient(HttpsClientOptions options)
    : options_(std::move(options)), impl_(std::make_unique<Impl>(options_))
{
}

HttpsClient::~HttpsClient() = default;

bool HttpsClient::isConnected() const
{
    return impl_->stream.has_value();
}

std::size_t HttpsClient::connectionsOpened() const
{
    return impl_->opened;
}

void HttpsClient::disconnect()
{
    if (!impl_->stream)
        return;
    auto& stream = *impl_->stream;
    beast::get_lowest_layer(stream).expires_after(std::chrono::seconds(2));
    impl_->run([&](auto handler) { stream.async_shutdown(handler); });
    beast::error_code ignored;
    beast::get_lowest_layer(stream).socket().close(ignored);
    impl_->stream.reset();
    impl_->buffer.clear();
}

namespace {

[[noreturn]] void fail(const char* step, const beast::error_code& ec)
{
    throw HttpsClientError(std::string("HTTPS ") + step + ": " + ec.message());
}

}  // namespace

HttpsClientResponse HttpsClient::request(std::string_view method, std::string_view target, std::string_view body,
                                         const HeaderList& headers)
{
    http::request<http::string_body> message;
    message.method_string(method);
    message.target(target);
    message.version(11);
    message.set(http::field::host, options_.host + ":" + std::to_string(options_.port));
    message.set(http::field::user_agent, "krpalvelin-client");
    if (!options_.acceptEncoding.empty())
        message.set(http::field::accept_encoding, options_.acceptEncoding);
    if (!body.empty())
        message.set(http::field::content_type, "application/json");
    for (const auto& [name, value] : headers)
        message.insert(name, value);
    if (options_.requestCoding != ContentCoding::Identity && body.size() > options_.compressRequestsAbove) {
        message.body() = transport::compress(body, options_.requestCoding);
        message.set(http::field::content_encoding, transport::contentCodingName(options_.requestCoding));
    } else {
        message.body() = std::string(body);
    }
    message.keep_alive(true);
    message.prepare_payload();

    for (int attempt = 0;; ++attempt) {
        const bool reused = impl_->stream.has_value();
        if (!reused) {
            auto& impl = *impl_;
            impl.stream.emplace(impl.io, impl.tls);
            auto& stream = *impl.stream;
            tcp::resolver resolver(impl.io);
            beast::error_code ec;
            const auto endpoints = resolver.resolve(options_.host, std::to_string(options_.port), ec);
            if (ec) {
                impl.stream.reset();
                fail("resolve", ec);
            }
            beast::get_lowest_layer(stream).expires_after(options_.timeout);
            ec = impl.run([&](auto handler) { beast::get_lowest_layer(stream).async_connect(endpoints, handler); });
            if (!ec && options_.verifyPeer) {
                // A trusted certificate must also be made out to the host we asked for.
                stream.set_verify_callback(ssl::host_name_verification(options_.host), ec);
            }
            if (!ec) {
                if (!SSL_set_tlsext_host_name(stream.native_handle(), options_.host.c_str()))
                    ec = beast::error_code(static_cast<int>(::ERR_get_error()), net::error::get_ssl_category());
            }
            if (!ec) {
                beast::get_lowest_layer(stream).expires_after(options_.timeout);
                ec = impl.run([&](auto handler) { stream.async_handshake(ssl::stream_base::client, handler); });
            }
            if (ec) {
                impl.stream.reset();
                fail("connect", ec);
            }
            ++impl.opened;
            impl.buffer.clear();
        }

        auto& stream = *impl_->stream;
        beast::get_lowest_layer(stream).expires_after(options_.timeout);
        beast::error_code ec = impl_->run([&](auto handler) { http::async_write(stream, message, handler); });

        http::response_parser<http::string_body> parser;
        parser.body_limit(options_.maxResponseBytes);
        if (!ec) {
            beast::get_lowest_layer(stream).expires_after(options_.timeout);
            ec = impl_->run([&](auto handler) { http::async_read(stream, impl_->buffer, parser, handler); });
        }
        if (ec) {
            // A server that ended the idle connection answers the request with a close; a
            // timeout means the request may be running, and is the caller's to repeat.
            const bool closedMeanwhile = reused && attempt == 0 && !parser.got_some() && ec != beast::error::timeout;
            beast::error_code ignored;
            beast::get_lowest_layer(stream).socket().close(ignored);
            impl_->stream.reset();
            impl_->buffer.clear();
            if (closedMeanwhile)
                continue;  // the server ended the idle connection: once more on a new one
            fail("request", ec);
        }

        auto reply = parser.release();
        HttpsClientResponse response;
        response.status = static_cast<int>(reply.result_int());
        for (const auto& field : reply)
            response.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
        response.contentEncoding = std::string(reply[http::field::content_encoding]);
        response.wireBodySize = reply.body().size();
        const auto coding = transport::parseContentEncoding(response.contentEncoding);
        if (!coding)
            throw HttpsClientError("HTTPS: unknown Content-Encoding \"" + response.contentEncoding +
                                   "\" in the response");
        auto decoded = transport::decompress(reply.body(), *coding, options_.maxResponseBytes);
        if (decoded.status != transport::DecodeStatus::Ok)
            throw HttpsClientError("HTTPS: the response body does not decompress");
        response.body = std::move(decoded.data);
        if (!reply.keep_alive())
            disconnect();
        return response;
    }
}

}  // namespace krp::client
