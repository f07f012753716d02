#include "server/session/BodyDigest.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace krp::session {

std::string bodyDigest(std::string_view body)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!EVP_Digest(body.data(), body.size(), digest, &length, EVP_sha256(), nullptr))
        throw std::runtime_error("SHA-256 of a request body failed");
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0x0f];
    }
    return hex;
}

}  // namespace krp::session
