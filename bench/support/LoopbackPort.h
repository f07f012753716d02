#pragma once
// Ports on 127.0.0.1 for the servers a benchmark starts.
#include <cstdint>

namespace krp::bench {

// A port on 127.0.0.1 that nothing listens on right now.
std::uint16_t freeLoopbackPort();

// True when something accepts TCP connections on 127.0.0.1 at `port`.
bool listensOnLoopback(std::uint16_t port);

}  // namespace krp::bench
