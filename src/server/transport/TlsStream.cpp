#include "server/transport/TlsStream.h"

#include <boost/asio/error.hpp>
#include <boost/asio/ssl/error.hpp>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <limits>
#include <new>
#include <stdexcept>

namespace krp::transport {

namespace net = boost::asio;

// The BIO under each connection's SSL object: reads and writes go to the socket at once, and a
// socket that would block is a retry for OpenSSL, which the waiting operation turns into an
// async_wait.
struct SocketBio {
    static TlsStream& streamOf(BIO* bio) { return *static_cast<TlsStream*>(BIO_get_data(bio)); }

    static bool wouldBlock(const boost::system::error_code& ec)
    {
        return ec == net::error::would_block || ec == net::error::try_again;
    }

    static int write(BIO* bio, const char* data, std::size_t size, std::size_t* written)
    {
        BIO_clear_retry_flags(bio);
        TlsStream& stream = streamOf(bio);
        boost::system::error_code ec;
        const std::size_t n = stream.socket_.write_some(net::buffer(data, size), ec);
        if (wouldBlock(ec)) {
            BIO_set_retry_write(bio);
            return 0;
        }
        if (ec) {
            stream.socketError_ = ec;
            return 0;
        }
        *written = n;
        return 1;
    }

    static int read(BIO* bio, char* data, std::size_t size, std::size_t* read)
    {
        BIO_clear_retry_flags(bio);
        TlsStream& stream = streamOf(bio);
        boost::system::error_code ec;
        const std::size_t n = stream.socket_.read_some(net::buffer(data, size), ec);
        if (wouldBlock(ec)) {
            BIO_set_retry_read(bio);
            return 0;
        }
        if (ec) {
            stream.socketError_ = ec;
            return 0;
        }
        *read = n;
        return 1;
    }

    static long control(BIO*, int command, long, void*)
    {
        // Writes go straight to the socket: there is nothing to flush. Nothing else is kept.
        return command == BIO_CTRL_FLUSH ? 1 : 0;
    }

    static int create(BIO* bio)
    {
        BIO_set_init(bio, 1);
        return 1;
    }

    static const BIO_METHOD* method()
    {
        static const BIO_METHOD* const made = [] {
            BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "krp socket");
            if (!m || BIO_meth_set_write_ex(m, &write) != 1 || BIO_meth_set_read_ex(m, &read) != 1 ||
                BIO_meth_set_ctrl(m, &control) != 1 || BIO_meth_set_create(m, &create) != 1)
                throw std::runtime_error("OpenSSL: socket BIO could not be made");
            return m;
        }();
        return made;
    }
};

TlsStream::TlsStream(StrandSocket socket, SSL_CTX* context) : socket_(std::move(socket))
{
    boost::system::error_code ignored;
    socket_.non_blocking(true, ignored);
    ssl_ = SSL_new(context);
    if (!ssl_)
        throw std::bad_alloc();
    BIO* bio = BIO_new(SocketBio::method());
    if (!bio) {
        SSL_free(ssl_);
        throw std::bad_alloc();
    }
    BIO_set_data(bio, this);
    SSL_set_bio(ssl_, bio, bio);
    SSL_set_accept_state(ssl_);
    // A write may end after a record (the operation reports what went) and be repeated from
    // another copy of the same bytes (a gathered write's copy moves with its operation).
    SSL_set_mode(ssl_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_RELEASE_BUFFERS);
    // A record's header and body, and what follows them, come in one read from the socket.
    SSL_set_read_ahead(ssl_, 1);
}

TlsStream::~TlsStream()
{
    SSL_free(ssl_);
}

// Before each call: OpenSSL's error queue belongs to the thread, and a stale entry left by
// another connection on it would be taken for this call's.
void TlsStream::beginCall()
{
    ERR_clear_error();
    socketError_.clear();
}

TlsStream::Next TlsStream::handshakeStep(error_code& ec)
{
    beginCall();
    return outcome(SSL_do_handshake(ssl_), ec);
}

TlsStream::Next TlsStream::readStep(void* data, std::size_t size, std::size_t& n, error_code& ec)
{
    n = 0;
    if (size == 0)
        return Next::Done;
    beginCall();
    const int result = SSL_read_ex(ssl_, data, size, &n);
    return result == 1 ? Next::Done : outcome(result, ec);
}

TlsStream::Next TlsStream::writeStep(const void* data, std::size_t size, std::size_t& n, error_code& ec)
{
    n = 0;
    if (size == 0)
        return Next::Done;
    beginCall();
    const int result = SSL_write_ex(ssl_, data, size, &n);
    return result == 1 ? Next::Done : outcome(result, ec);
}

TlsStream::Next TlsStream::shutdownStep(error_code& ec)
{
    // 0: our close_notify is out, the client's not yet read; that is enough here.
    beginCall();
    const int result = SSL_shutdown(ssl_);
    return result >= 0 ? Next::Done : outcome(result, ec);
}

TlsStream::Next TlsStream::outcome(int result, error_code& ec)
{
    switch (SSL_get_error(ssl_, result)) {
    case SSL_ERROR_NONE: ec.clear(); return Next::Done;
    case SSL_ERROR_WANT_READ: return Next::WaitRead;
    case SSL_ERROR_WANT_WRITE: return Next::WaitWrite;
    case SSL_ERROR_ZERO_RETURN:
        ec = net::error::eof;  // the client's close_notify
        return Next::Done;
    case SSL_ERROR_SYSCALL:
        ec = socketError_ && socketError_ != net::error::eof ? socketError_ : net::ssl::error::stream_truncated;
        return Next::Done;
    case SSL_ERROR_SSL: {
        const unsigned long e = ERR_get_error();
        if (ERR_GET_REASON(e) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
            ec = net::ssl::error::stream_truncated;
        else if (socketError_)
            ec = socketError_;
        else
            ec = error_code(static_cast<int>(e), net::error::get_ssl_category());
        return Next::Done;
    }
    default: ec = socketError_ ? socketError_ : net::error::fault; return Next::Done;
    }
}

}  // namespace krp::transport
