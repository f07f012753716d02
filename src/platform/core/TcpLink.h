#pragma once
// A TCP link of this process that a library opened and does not show: found by its ports, and
// asked without reading from it whether the other end has closed it. Without Qt.
#include <cstdint>

namespace krp::platform {

// The descriptor of this process's TCP socket from local port `localPort` to remote port
// `remotePort`, or -1 when there is none (or the platform cannot tell, as on Windows).
int findTcpSocket(std::uint16_t localPort, std::uint16_t remotePort);

// True when the socket can be read without waiting: the other end has closed it or sent
// something. Reads nothing. False for -1 and where the platform cannot tell.
bool tcpSocketReadable(int socket);

}  // namespace krp::platform
