#include "server/session/SessionId.h"

#include <openssl/rand.h>

#include <array>
#include <stdexcept>

namespace krp::session {

std::string newSessionId()
{
    std::array<unsigned char, 24> bytes{};
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1)
        throw std::runtime_error("Istunnon tunnusta ei voitu arpoa (OpenSSL RAND_bytes).");

    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string id;
    id.reserve(bytes.size() / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const unsigned v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        id += alphabet[(v >> 18) & 63];
        id += alphabet[(v >> 12) & 63];
        id += alphabet[(v >> 6) & 63];
        id += alphabet[v & 63];
    }
    return id;
}

}  // namespace krp::session
