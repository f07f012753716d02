#include "LoopbackPort.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

namespace krp::bench {

namespace net = boost::asio;
using tcp = net::ip::tcp;

std::uint16_t freeLoopbackPort()
{
    net::io_context io;
    tcp::acceptor acceptor(io, {net::ip::make_address("127.0.0.1"), 0});
    return acceptor.local_endpoint().port();
}

bool listensOnLoopback(std::uint16_t port)
{
    net::io_context io;
    tcp::socket socket(io);
    boost::system::error_code ec;
    socket.connect({net::ip::make_address("127.0.0.1"), port}, ec);
    return !ec;
}

}  // namespace krp::bench
