// One client connection: TLS handshake, then read a request, hand it to the handler, write its
// answer when it comes, and read the next one (keep-alive) until the client leaves, a limit is
// hit or the server stops. Every step runs on the connection's strand with its own deadline.
#include "metrics/Metrics.h"
#include "server/transport/ChunkFraming.h"
#include "shared/NoCase.h"
#include "server/transport/RequestHead.h"
#include "server/transport/RequestPipeline.h"
#include "server/transport/ServerCore.h"
#include "server/transport/SocketDeadline.h"
#include "server/transport/TlsStream.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace krp::transport {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

using WireResponse = http::response<http::string_body>;

constexpr auto shutdownTimeout = std::chrono::seconds(2);
// After an answer that ends the connection, what the client still sends is read and dropped
// for a moment, so that closing does not reset the connection before it has read the answer.
constexpr auto lingerTimeout = std::chrono::seconds(2);
constexpr std::size_t drainBufferSize = 16 * 1024;

bool isHttpParseError(const beast::error_code& ec)
{
    return ec.category() == http::make_error_code(http::error::bad_target).category() &&
           ec != http::error::end_of_stream && ec != http::error::partial_message && ec != http::error::short_read;
}

// A header from the application that would break the framing or the message is left out.
bool isForbiddenHeader(const std::string& name, const std::string& value)
{
    for (const std::string_view reserved :
         {"content-length", "transfer-encoding", "content-encoding", "connection", "content-type"})
        if (equalsNoCase(name, reserved))
            return true;
    const auto bad = [](char c) { return c == '\r' || c == '\n' || c == '\0'; };
    return name.empty() || std::any_of(name.begin(), name.end(), bad) || std::any_of(value.begin(), value.end(), bad);
}

// Counts an answer that the transport gives itself, before the application sees the request.
void countRefusal(int status)
{
    using metrics::RequestRefusal;
    RequestRefusal reason = RequestRefusal::Malformed;
    switch (status) {
    case 413: reason = RequestRefusal::BodyTooLarge; break;
    case 415: reason = RequestRefusal::UnsupportedCoding; break;
    case 431: reason = RequestRefusal::HeadTooLarge; break;
    case 503: reason = RequestRefusal::BodyMemory; break;
    default: break;
    }
    metrics::counters().requestRefused(reason);
}

std::string remoteAddressText(const net::ip::address& address)
{
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return net::ip::make_address_v4(net::ip::v4_mapped, address.to_v6()).to_string();
    return address.to_string();
}

class HttpsConnection final : public Connection, public std::enable_shared_from_this<HttpsConnection> {
public:
    HttpsConnection(ServerCore& core, StrandSocket&& socket)
        : core_(core), stream_(std::move(socket), core.tls.native_handle()), deadline_(stream_.socket()),
          buffer_(ChunkFraming::readBufferLimit(core.options.maxHeaderBytes)), framing_(core.options.maxHeaderBytes)
    {
        beast::error_code ec;
        auto& accepted = stream_.socket();
        const auto remote = accepted.remote_endpoint(ec);
        if (!ec) {
            remoteAddress_ = remoteAddressText(remote.address());
            remotePort_ = remote.port();
        }
        // Answers and handshake messages go out at once: without this, a small write that
        // follows another not yet acknowledged (the handshake's last messages, an answer) waits
        // for the client's delayed acknowledgement, some 40 ms on Linux.
        accepted.set_option(tcp::no_delay(true), ec);
    }

    ~HttpsConnection() override
    {
        if (answering_)
            --core_.inFlight;
        core_.remove(this);
        if (admitted_)
            core_.admission.release(remoteAddress_);
    }

    const std::string& remoteAddress() const { return remoteAddress_; }
    void setAdmitted() { admitted_ = true; }

    void run()
    {
        deadline_.attach(weak_from_this());
        net::dispatch(stream_.get_executor(),
                      beast::bind_front_handler(&HttpsConnection::handshake, shared_from_this()));
    }

    void close() override
    {
        net::post(stream_.get_executor(), [self = shared_from_this()] { self->closeNow(); });
    }

    void closeNow() override
    {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        closeSocket();
    }

private:
    void handshake()
    {
        deadline_.expiresAfter(core_.options.handshakeTimeout);
        stream_.async_handshake(beast::bind_front_handler(&HttpsConnection::onHandshake, shared_from_this()));
    }

    void onHandshake(beast::error_code ec)
    {
        if (ec)
            return;  // not TLS, an old protocol, or too slow: nothing to answer
        readHeader();
    }

    // A read that failed: a body over the limit is answered 413; chunk framing that does not
    // fit its limit (one line, or a trailer section, longer than the read buffer; chunk
    // extensions longer in all than the head limit) 431; a malformed request 400; a broken or
    // timed-out connection gets no answer.
    void answerReadError(beast::error_code ec)
    {
        if (ec == http::error::body_limit)
            return refuse(tooLarge());
        if (ec == http::error::buffer_overflow || framing_.exceeded())
            return refuse(framingTooLong());
        if (isHttpParseError(ec))
            refuse(HttpResponse::error(400, "Virheellinen HTTP-pyyntö."));
    }

    HttpResponse framingTooLong() const
    {
        return HttpResponse::error(
            431, "Pyynnön chunk-laajennukset tai rungon perässä tulevat otsakkeet ovat liian suuret (yli " +
                     std::to_string(core_.options.maxHeaderBytes) + " tavua).");
    }

    void readHeader()
    {
        // Between requests a kept-alive connection holds no read buffer unless the client has
        // already sent more.
        if (buffer_.size() == 0)
            buffer_.shrink_to_fit();
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(core_.options.maxHeaderBytes));
        parser_->body_limit(core_.options.maxBodyBytes);

        deadline_.expiresAfter(core_.options.idleTimeout);
        http::async_read_header(stream_, buffer_, *parser_,
                                beast::bind_front_handler(&HttpsConnection::onReadHeader, shared_from_this()));
    }

    void onReadHeader(beast::error_code ec, std::size_t)
    {
        if (ec == http::error::end_of_stream)
            return shutdown();
        if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
            return refuse(HttpResponse::error(431, "Pyynnön otsakkeet ovat liian suuret."));
        if (ec)
            return answerReadError(ec);

        // From here the request counts as arrived: a draining stop waits for its answer.
        answering_ = true;
        ++core_.inFlight;
        auto verdict = checkRequestHead(parser_->get(), parser_->chunked());
        if (verdict.refusal)
            return refuse(std::move(*verdict.refusal));
        requestCoding_ = verdict.coding;
        // The request as the application sees it is its head: fields that a chunked body's
        // trailer adds later are not part of it.
        head_ = requestOfHead(parser_->get());
        head_.remoteAddress = remoteAddress_;
        head_.remotePort = remotePort_;
        framing_.attach(*parser_);
        // An HTTP/1.0 client that sends Transfer-Encoding may not read chunked framing as it
        // was meant: nothing more is read on that connection after the answer.
        closeAfterAnswer_ = parser_->get().version() < 11 &&
                            parser_->get().find(http::field::transfer_encoding) != parser_->get().end();

        if (parser_->is_done())
            return dispatchRequest();
        if (core_.options.checkHead)
            return checkHead();
        admitBody();
    }

    // The application looks at the head (it may refuse the request before its body is read),
    // here on the strand: the check never blocks.
    void checkHead()
    {
        std::optional<HttpResponse> refusal;
        try {
            refusal = core_.options.checkHead(head_);
        } catch (const std::exception& e) {
            refusal = HttpResponse::error(500, e.what());
        }
        if (refusal)
            return replyAndClose(std::move(*refusal));
        admitBody();
    }

    // Leases the body's memory, then reads it: a body of known length what it costs until it
    // has been parsed and converted, a chunked body the most it may grow to (what it costs is
    // leased when it is all in).
    void admitBody()
    {
        const auto length = parser_->content_length();
        const std::size_t wanted =
            length ? bodyCost(static_cast<std::size_t>(*length), core_.options) : core_.options.maxBodyBytes;
        bodyLease_ = core_.bodyMemory.lease(wanted, remoteAddress_);
        if (!bodyLease_) {
            reportBodyMemoryFull(wanted);
            return refuse(bodyMemoryFull());
        }
        if (equalsNoCase(parser_->get()[http::field::expect], "100-continue"))
            return sendContinue();
        readBody();
    }

    void reportBodyMemoryFull(std::size_t wanted)
    {
        if (core_.options.onBodyMemoryFull)
            core_.options.onBodyMemoryFull(remoteAddress_,
                                           wanted <= core_.bodyMemory.capacity() - core_.bodyMemory.inUse());
    }

    void sendContinue()
    {
        auto interim =
            std::make_shared<http::response<http::empty_body>>(http::status::continue_, parser_->get().version());
        deadline_.expiresAfter(core_.options.writeTimeout);
        http::async_write(stream_, *interim, [self = shared_from_this(), interim](beast::error_code ec, std::size_t) {
            if (!ec)
                self->readBody();
        });
    }

    void readBody()
    {
        deadline_.expiresAfter(core_.options.bodyTimeout);
        http::async_read(stream_, buffer_, *parser_,
                         beast::bind_front_handler(&HttpsConnection::onReadBody, shared_from_this()));
    }

    void onReadBody(beast::error_code ec, std::size_t)
    {
        if (ec)
            return answerReadError(ec);
        if (framing_.trailerTooLarge(parser_->get()))
            return refuse(framingTooLong());
        dispatchRequest();
    }

    HttpResponse tooLarge() const
    {
        return HttpResponse::error(
            413, "Pyynnön runko on liian suuri (yli " + std::to_string(core_.options.maxBodyBytes) + " tavua).");
    }

    // The request is complete (headers and body): it goes to the handler, on this strand.
    void dispatchRequest()
    {
        auto message = parser_->release();
        parser_.reset();

        HttpRequest request = std::move(head_);
        head_ = {};
        request.body = std::move(message.body());

        deadline_.expiresNever();  // the handler may take its time; the client waits
        // What the answer needs, in the order it is let go: the body's memory first (it goes
        // back to the core's budget), then the connection (which unregisters from the core),
        // the core last.
        struct Answering {
            std::shared_ptr<ServerCore> core;
            std::shared_ptr<HttpsConnection> connection;
            BodyMemoryBudget::Lease lease;
            unsigned version;
            bool keepAlive;
            std::string acceptEncoding;
        };
        auto answering = std::make_shared<Answering>(
            Answering{core_.shared_from_this(), shared_from_this(), std::move(bodyLease_), message.version(),
                      message.keep_alive() && !closeAfterAnswer_, std::string(message[http::field::accept_encoding])});
        Respond respond = [answering](HttpResponse response) {
            // The body's memory goes back once the answer is there, before it is written.
            answering->lease.release();
            Reply reply;
            reply.encoded = encodeResponse(std::move(response), answering->core->options, answering->acceptEncoding);
            reply.version = answering->version;
            reply.keepAlive = answering->keepAlive;
            const auto& self = answering->connection;
            net::dispatch(self->stream_.get_executor(),
                          [self, reply = std::move(reply)]() mutable { self->write(std::move(reply)); });
        };
        if (auto refused = decodeRequestBody(request, requestCoding_, core_.options, &answering->lease)) {
            countRefusal(refused->status);
            return respond(std::move(*refused));
        }
        // Held until the answer is there: the body's bytes and what parsing and converting them costs.
        if (auto refused = leaseBodyCost(request, core_.options, &answering->lease)) {
            reportBodyMemoryFull(bodyCost(request.body.size(), core_.options));
            countRefusal(refused->status);
            return respond(std::move(*refused));
        }
        try {
            core_.handler(std::move(request), respond);
        } catch (const std::exception& e) {
            respond(HttpResponse::error(500, e.what()));
        } catch (...) {
            respond(HttpResponse::error(500, "Palvelimen sisäinen virhe."));
        }
    }

    struct Reply {
        EncodedResponse encoded;
        unsigned version = 11;
        bool keepAlive = false;
    };

    // An answer of the transport's own: counted, sent, and the connection closed.
    void refuse(HttpResponse response)
    {
        countRefusal(response.status);
        replyAndClose(std::move(response));
    }

    void replyAndClose(HttpResponse response)
    {
        parser_.reset();
        bodyLease_.release();
        Reply reply;
        reply.encoded.response = std::move(response);
        reply.keepAlive = false;
        write(std::move(reply));
    }

    void write(Reply reply)
    {
        auto& r = reply.encoded.response;
        auto wire = std::make_shared<WireResponse>();
        wire->version(reply.version);
        wire->result(static_cast<unsigned>(r.status));
        wire->set(http::field::server, "KRPalvelin");
        if (!r.body.empty())
            wire->set(http::field::content_type, r.contentType);
        for (const auto& [name, value] : r.headers)
            if (!isForbiddenHeader(name, value))
                wire->insert(name, value);
        if (reply.encoded.coding != ContentCoding::Identity)
            wire->set(http::field::content_encoding, contentCodingName(reply.encoded.coding));
        if (reply.encoded.varyOnAcceptEncoding)
            wire->set(http::field::vary, "Accept-Encoding");
        wire->body() = std::move(r.body);
        wire->keep_alive(reply.keepAlive);
        wire->prepare_payload();

        deadline_.expiresAfter(core_.options.writeTimeout);
        http::async_write(stream_, *wire, [self = shared_from_this(), wire](beast::error_code ec, std::size_t) {
            self->onWrite(ec, wire->keep_alive());
        });
    }

    void onWrite(beast::error_code ec, bool keepAlive)
    {
        if (std::exchange(answering_, false))
            --core_.inFlight;
        if (ec)
            return;
        if (keepAlive)
            return readHeader();
        shutdown();
    }

    void shutdown()
    {
        deadline_.expiresAfter(shutdownTimeout);
        stream_.async_shutdown([self = shared_from_this()](beast::error_code) { self->linger(); });
    }

    void linger()
    {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        lingerUntil_ = std::chrono::steady_clock::now() + lingerTimeout;
        drainBuffer_.resize(drainBufferSize);
        drain();
    }

    void drain()
    {
        const auto left = lingerUntil_ - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            return closeSocket();
        deadline_.expiresAfter(left);
        stream_.socket().async_read_some(net::buffer(drainBuffer_),
                                         [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                             if (ec)
                                                 return self->closeSocket();
                                             self->drain();
                                         });
    }

    void closeSocket()
    {
        beast::error_code ignored;
        stream_.socket().close(ignored);
        deadline_.cancel();
    }

    ServerCore& core_;
    TlsStream stream_;
    SocketDeadline deadline_;
    // Bounded: a chunk-size line, or a trailer section, that does not fit is refused (the
    // parser holds either whole in the buffer before it reads it).
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    ChunkFraming framing_;  // the parser holds it by reference
    HttpRequest head_;      // the request being read, without its body
    bool closeAfterAnswer_ = false;
    BodyMemoryBudget::Lease bodyLease_;
    bool admitted_ = false;
    ContentCoding requestCoding_ = ContentCoding::Identity;
    bool answering_ = false;  // a request's headers read, its answer not yet written
    std::string remoteAddress_;
    std::uint16_t remotePort_ = 0;
    std::chrono::steady_clock::time_point lingerUntil_;
    // Only a closing connection needs it; an open one does not carry it around.
    std::vector<char> drainBuffer_;
};

}  // namespace

void serveConnection(ServerCore& core, StrandSocket socket)
{
    auto connection = std::make_shared<HttpsConnection>(core, std::move(socket));
    const auto decision = core.admission.admit(connection->remoteAddress());
    if (!decision.admitted) {
        if (decision.report && core.options.onRefusedConnection)
            core.options.onRefusedConnection(connection->remoteAddress(), decision.addressFull);
        return;  // the socket closes with the connection
    }
    connection->setAdmitted();
    if (!core.add(connection))
        return;  // stopping
    connection->run();
}

}  // namespace krp::transport
