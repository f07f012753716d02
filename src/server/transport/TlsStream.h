#pragma once
// A server-side TLS stream over a TCP socket that keeps no buffers of its own. OpenSSL reads from
// and writes to the socket itself, through a small BIO that calls the socket's non-blocking
// read_some/write_some, and releases its record buffers whenever they are empty; an idle
// connection holds only OpenSSL's connection state. An operation that finds the socket not ready
// waits for readiness with the socket's async_wait and tries again.
//
// Every operation runs on the socket's executor (the connection's strand); at most one read and
// one write are outstanding at a time. Closing the socket ends any waiting operation with
// operation_aborted, and OpenSSL is never called on a closed socket: its BIO goes through the
// socket object, which refuses once closed.
#include <boost/asio/compose.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/system/error_code.hpp>

#include <cstddef>
#include <cstring>
#include <memory>
#include <type_traits>
#include <algorithm>

using SSL = struct ssl_st;
using SSL_CTX = struct ssl_ctx_st;

namespace krp::transport {

using Strand = boost::asio::strand<boost::asio::io_context::executor_type>;
using StrandSocket = boost::asio::basic_stream_socket<boost::asio::ip::tcp, Strand>;

class TlsStream {
public:
    using executor_type = Strand;
    using error_code = boost::system::error_code;

    TlsStream(StrandSocket socket, SSL_CTX* context);
    ~TlsStream();
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    executor_type get_executor() { return socket_.get_executor(); }
    StrandSocket& socket() { return socket_; }

    template <class Handler>
    auto async_handshake(Handler&& handler)
    {
        return start<false>([this](error_code& ec, std::size_t&) { return handshakeStep(ec); },
                            std::forward<Handler>(handler));
    }

    // Reads into the first non-empty buffer of the sequence.
    template <class MutableBuffers, class Handler>
    auto async_read_some(const MutableBuffers& buffers, Handler&& handler)
    {
        const auto target = firstNonEmpty(buffers);
        return start<true>(
            [this, target](error_code& ec, std::size_t& n) { return readStep(target.data(), target.size(), n, ec); },
            std::forward<Handler>(handler));
    }

    // Writes one TLS record's worth at most. Small buffers of a sequence (an answer's head and
    // body) are gathered into one record, so that an answer does not go out as many records.
    template <class ConstBuffers, class Handler>
    auto async_write_some(const ConstBuffers& buffers, Handler&& handler)
    {
        Outgoing out = gather(buffers);
        return start<true>([this, out = std::move(out)](
                               error_code& ec, std::size_t& n) { return writeStep(out.data, out.size, n, ec); },
                           std::forward<Handler>(handler));
    }

    // Sends close_notify; does not wait for the client's.
    template <class Handler>
    auto async_shutdown(Handler&& handler)
    {
        return start<false>([this](error_code& ec, std::size_t&) { return shutdownStep(ec); },
                            std::forward<Handler>(handler));
    }

private:
    enum class Next { Done, WaitRead, WaitWrite };

    // What a write hands to OpenSSL: the caller's buffer, or a gathered copy the operation owns.
    struct Outgoing {
        const void* data = nullptr;
        std::size_t size = 0;
        std::shared_ptr<char[]> copy;
    };
    static constexpr std::size_t recordSize = 16 * 1024;

    template <class Buffers>
    static boost::asio::mutable_buffer firstNonEmpty(const Buffers& buffers)
    {
        for (auto it = boost::asio::buffer_sequence_begin(buffers); it != boost::asio::buffer_sequence_end(buffers);
             ++it)
            if (boost::asio::mutable_buffer b(*it); b.size() > 0)
                return b;
        return {};
    }

    template <class Buffers>
    static Outgoing gather(const Buffers& buffers)
    {
        auto it = boost::asio::buffer_sequence_begin(buffers);
        const auto end = boost::asio::buffer_sequence_end(buffers);
        while (it != end && boost::asio::const_buffer(*it).size() == 0)
            ++it;
        if (it == end)
            return {};
        const boost::asio::const_buffer first(*it);
        auto next = it;
        ++next;
        while (next != end && boost::asio::const_buffer(*next).size() == 0)
            ++next;
        if (first.size() >= recordSize || next == end)
            return {first.data(), first.size(), nullptr};
        Outgoing out;
        out.size = std::min(boost::asio::buffer_size(buffers), recordSize);
        out.copy.reset(new char[out.size]);
        out.data = out.copy.get();
        std::size_t filled = 0;
        for (; it != end && filled < out.size; ++it) {
            const boost::asio::const_buffer b(*it);
            const std::size_t part = std::min(b.size(), out.size - filled);
            if (part > 0)
                std::memcpy(out.copy.get() + filled, b.data(), part);
            filled += part;
        }
        return out;
    }

    // One OpenSSL call each, telling what it waits for when it cannot go on yet.
    Next handshakeStep(error_code& ec);
    Next readStep(void* data, std::size_t size, std::size_t& n, error_code& ec);
    Next writeStep(const void* data, std::size_t size, std::size_t& n, error_code& ec);
    Next shutdownStep(error_code& ec);
    void beginCall();
    Next outcome(int result, error_code& ec);

    // Repeats a step until it is done, waiting for the socket in between. A step done at once
    // completes through a post, never inside the initiating call.
    template <class Step, bool CountsBytes>
    struct Operation {
        TlsStream& stream;
        Step step;
        bool waited = false;
        bool finished = false;
        error_code result;
        std::size_t transferred = 0;

        template <class Self>
        void operator()(Self& self, error_code waitError = {})
        {
            if (finished)
                return finish(self);
            if (waitError) {
                result = waitError;
                transferred = 0;
                return finish(self);
            }
            switch (step(result, transferred)) {
            case Next::WaitRead:
                waited = true;
                return stream.socket_.async_wait(StrandSocket::wait_read, std::move(self));
            case Next::WaitWrite:
                waited = true;
                return stream.socket_.async_wait(StrandSocket::wait_write, std::move(self));
            case Next::Done:
                if (waited)
                    return finish(self);
                finished = true;
                return boost::asio::post(stream.socket_.get_executor(), std::move(self));
            }
        }

        template <class Self>
        void finish(Self& self)
        {
            if constexpr (CountsBytes)
                self.complete(result, transferred);
            else
                self.complete(result);
        }
    };

    template <bool CountsBytes, class Step, class Handler>
    auto start(Step step, Handler&& handler)
    {
        using Signature = std::conditional_t<CountsBytes, void(error_code, std::size_t), void(error_code)>;
        return boost::asio::async_compose<Handler, Signature>(
            Operation<Step, CountsBytes>{*this, std::move(step), false, false, {}, 0}, handler, socket_);
    }

    friend struct SocketBio;

    StrandSocket socket_;
    SSL* ssl_ = nullptr;
    // The socket's own failure under the last OpenSSL call (a reset, end of stream).
    error_code socketError_;
};

}  // namespace krp::transport
