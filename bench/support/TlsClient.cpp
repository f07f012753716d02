#include "TlsClient.h"

#include "BenchSetup.h"
#include "types/UTyypit.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace krp::bench {

namespace net = boost::asio;
namespace ssl = net::ssl;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

std::string base64(const std::string& text)
{
    std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

const std::string kServerCredentials =
    "Basic " + base64(std::string(types::PALVELIMEN_KAYTTAJATUNNUS) + ":" + types::PALVELIMEN_SALASANA);

const std::string kSessionBody = std::string("{\"Application\":\"") + BenchAccount::application + "\",\"Token\":\"" +
                                 BenchAccount::accessCode + "\",\"ApplicationUserName\":\"" + BenchAccount::user +
                                 "\",\"ApplicationPassword\":\"" + BenchAccount::password + "\"}";

}  // namespace

struct TlsClient::Impl {
    Impl() : tls(ssl::context::tls_client)
    {
        tls.set_verify_mode(ssl::verify_none);  // the server's certificate is self-signed
        SSL_CTX_set_min_proto_version(tls.native_handle(), TLS1_2_VERSION);
        SSL_CTX_set_session_cache_mode(tls.native_handle(), SSL_SESS_CACHE_OFF);
    }
    net::io_context io;
    ssl::context tls;
};

struct TlsClient::Connection::Impl {
    Impl(net::io_context& io, ssl::context& tls, std::uint16_t port) : stream(io, tls), port(port) {}
    beast::ssl_stream<beast::tcp_stream> stream;
    beast::flat_buffer buffer;
    std::uint16_t port;
};

TlsClient::TlsClient() : impl_(std::make_unique<Impl>()) {}
TlsClient::~TlsClient() = default;

std::unique_ptr<TlsClient::Connection> TlsClient::connect(std::uint16_t port)
{
    auto c = std::make_unique<Connection::Impl>(impl_->io, impl_->tls, port);
    auto& lowest = beast::get_lowest_layer(c->stream);
    lowest.expires_after(std::chrono::seconds(10));
    lowest.connect(tcp::endpoint(net::ip::make_address_v4("127.0.0.1"), port));
    lowest.socket().set_option(tcp::no_delay(true));
    c->stream.handshake(ssl::stream_base::client);
    return std::make_unique<Connection>(std::move(c));
}

TlsClient::Connection::Connection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TlsClient::Connection::~Connection()
{
    beast::error_code ignored;
    auto& socket = beast::get_lowest_layer(impl_->stream).socket();
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
}

int TlsClient::Connection::exchange(const std::string& method, const std::string& path,
                                    const std::string& authorization, const std::string& body, std::string* answer)
{
    http::request<http::string_body> request{http::string_to_verb(method), path, 11};
    request.set(http::field::host, "127.0.0.1:" + std::to_string(impl_->port));
    if (!authorization.empty())
        request.set(http::field::authorization, authorization);
    if (!body.empty())
        request.set(http::field::content_type, "application/json");
    request.body() = body;
    request.prepare_payload();
    beast::get_lowest_layer(impl_->stream).expires_after(std::chrono::seconds(10));
    http::write(impl_->stream, request);
    http::response<http::string_body> response;
    http::read(impl_->stream, impl_->buffer, response);
    if (answer)
        *answer = std::move(response.body());
    return response.result_int();
}

std::string TlsClient::Connection::openSession()
{
    std::string answer;
    const int status = exchange("POST", "/api/v1/session", kServerCredentials, kSessionBody, &answer);
    rapidjson::Document d;
    d.Parse(answer.data(), answer.size());
    if (status != 200 || d.HasParseError() || !d.IsObject() || !d.HasMember("session") || !d["session"].IsString())
        throw std::runtime_error("session opening answered " + std::to_string(status) + " " + answer.substr(0, 200));
    return {d["session"].GetString(), d["session"].GetStringLength()};
}

void TlsClient::Connection::checkAndPing(const std::string& session, const std::string& clientId)
{
    const std::string bearer = "Bearer " + session;
    std::string answer;
    if (exchange("POST", "/api/v1/methods/TarkistaKayttooikeus", bearer,
                 std::string("[\"avain\",\"") + BenchAccount::user + "\",\"" + BenchAccount::password + "\"]",
                 &answer) != 200 ||
        answer != "{\"result\":true}")
        throw std::runtime_error("TarkistaKayttooikeus answered " + answer.substr(0, 200));
    if (exchange("POST", "/api/v1/methods/Ping", bearer, "[\"Kairanet\",\"" + clientId + "\"]", &answer) != 200 ||
        answer != "{\"result\":null}")
        throw std::runtime_error("Ping answered " + answer.substr(0, 200));
}

double OpeningsResult::percentileMs(double p) const
{
    if (latencyUs.empty())
        return 0;
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(latencyUs.size())));
    return latencyUs[std::min(latencyUs.size() - 1, rank == 0 ? 0 : rank - 1)] / 1000.0;
}

OpeningsResult runOpenings(std::uint16_t port, bool withSession, std::chrono::milliseconds duration,
                           std::uint64_t maxOpenings)
{
    TlsClient client;
    OpeningsResult r;
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + duration;
    while (r.openings < maxOpenings && std::chrono::steady_clock::now() < end) {
        const auto t0 = std::chrono::steady_clock::now();
        try {
            auto c = client.connect(port);
            if (withSession) {
                c->openSession();
            } else {
                std::string answer;
                if (c->exchange("POST", "/api/v1/session", kServerCredentials, kSessionBody, &answer) != 200)
                    throw std::runtime_error("answered " + answer.substr(0, 200));
            }
            r.latencyUs.push_back(
                std::chrono::duration<float, std::micro>(std::chrono::steady_clock::now() - t0).count());
            ++r.openings;
        } catch (const std::exception& e) {
            if (r.errors++ == 0)
                r.firstError = e.what();
            if (r.errors > 100)
                break;
        }
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::sort(r.latencyUs.begin(), r.latencyUs.end());
    return r;
}

}  // namespace krp::bench
