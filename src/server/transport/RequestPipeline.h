#pragma once
// What happens to a request between the wire and the application, without any I/O: the body
// is decoded, the handler runs, and the response body is encoded for the client.
#include "server/transport/BodyMemoryBudget.h"
#include "server/transport/ContentCoding.h"
#include "server/transport/HttpsServer.h"

#include <string_view>

namespace krp::transport {

struct EncodedResponse {
    HttpResponse response;          // body already encoded
    ContentCoding coding = ContentCoding::Identity;
    bool varyOnAcceptEncoding = false;
};

// Decodes the body of `request` (413 when it grows past the limit, 400 when it does not
// decode, 503 when `bodyLease` cannot grow to what it may unpack to), calls the handler (500
// when it throws), then compresses a body longer than `options.compressAbove` in the coding
// that `acceptEncoding` allows. `bodyLease` (may be null) is left at the decoded body's size.
EncodedResponse runRequest(const Handler& handler, const HttpsServerOptions& options,
                           HttpRequest& request, ContentCoding requestCoding,
                           std::string_view acceptEncoding,
                           BodyMemoryBudget::Lease* bodyLease = nullptr);

// The most a deflate stream of `compressedBytes` can unpack to, within `limit`.
std::size_t unpackedBound(std::size_t compressedBytes, std::size_t limit);

}  // namespace krp::transport
