#include "platform/core/TcpLink.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdlib>
#endif

namespace krp::platform {

#ifndef _WIN32
namespace {

// The port of a TCP address, or 0 for any other kind of socket.
std::uint16_t portOf(const sockaddr_storage& address)
{
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return 0;
}

}  // namespace
#endif

int findTcpSocket(std::uint16_t localPort, std::uint16_t remotePort)
{
#ifdef _WIN32
    (void)localPort;
    (void)remotePort;
    return -1;
#else
    if (localPort == 0 || remotePort == 0)
        return -1;
    DIR* fds = ::opendir("/proc/self/fd");  // Linux; elsewhere nothing is found
    if (!fds)
        return -1;
    int found = -1;
    while (const dirent* entry = ::readdir(fds)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == ::dirfd(fds))
            continue;
        sockaddr_storage local{}, remote{};
        socklen_t localLength = sizeof local, remoteLength = sizeof remote;
        if (::getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &localLength) == 0 &&
            portOf(local) == localPort &&
            ::getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&remote), &remoteLength) == 0 &&
            portOf(remote) == remotePort) {
            found = static_cast<int>(fd);
            break;
        }
    }
    ::closedir(fds);
    return found;
#endif
}

bool tcpSocketReadable(int socket)
{
#ifdef _WIN32
    (void)socket;
    return false;
#else
    if (socket < 0)
        return false;
    pollfd p{socket, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && p.revents != 0;
#endif
}

}  // namespace krp::platform
