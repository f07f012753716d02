#pragma once
// Content codings of message bodies: "deflate" (a zlib stream, RFC 1950) and "gzip".
// Shared by the server transport and the client.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace krp::transport {

enum class ContentCoding { Identity, Deflate, Gzip };

// The coding named by a Content-Encoding value ("deflate", "gzip", "x-gzip", "identity", or
// empty); letter case and surrounding blanks do not matter. nullopt for anything else,
// including a list of several codings.
std::optional<ContentCoding> parseContentEncoding(std::string_view headerValue);

// "deflate", "gzip"; empty for Identity.
std::string_view contentCodingName(ContentCoding coding);

// The coding of a response for the request's Accept-Encoding value: deflate when the client
// accepts it, otherwise gzip when it accepts that, otherwise Identity. A coding listed with
// q=0 is refused; "*" stands for the codings not listed by name.
ContentCoding chooseResponseCoding(std::string_view acceptEncoding);

std::string compress(std::string_view data, ContentCoding coding);

enum class DecodeStatus { Ok, TooLarge, Corrupt };

struct DecodeResult {
    DecodeStatus status = DecodeStatus::Ok;
    std::string data;  // the decoded body when status is Ok
};

// Decodes `data`. Stops as soon as the output would exceed `maxOutput` bytes (TooLarge), so a
// small compressed body cannot make the server allocate more than the limit. A truncated
// stream, a wrong header or checksum, or bytes after the end of the stream give Corrupt.
// Several gzip members one after the other are one body.
DecodeResult decompress(std::string_view data, ContentCoding coding, std::size_t maxOutput);

}  // namespace krp::transport
