#pragma once
// What happens to a request between the wire and the application, without any I/O: the body
// is decoded before the handler sees it, and the answer's body is encoded for the client.
#include "server/transport/BodyMemoryBudget.h"
#include "shared/ContentCoding.h"
#include "server/transport/HttpsServer.h"

#include <optional>
#include <string_view>

namespace krp::transport {

struct EncodedResponse {
    HttpResponse response;  // body already encoded
    ContentCoding coding = ContentCoding::Identity;
    bool varyOnAcceptEncoding = false;
};

// Decodes the body of `request` in place; the answer to send instead when it grows past the
// limit (413), does not decode (400), or when `bodyLease` (may be null) cannot grow to what
// the body may unpack to (503 with Retry-After). `bodyLease` is left at the decoded body's size.
std::optional<HttpResponse> decodeRequestBody(HttpRequest& request, ContentCoding requestCoding,
                                              const HttpsServerOptions& options,
                                              BodyMemoryBudget::Lease* bodyLease = nullptr);

// What a body of `bytes` costs while it is parsed and converted: bodyCostFactor times its bytes.
std::size_t bodyCost(std::size_t bytes, const HttpsServerOptions& options);

// Grows (or shrinks) `bodyLease` (may be null or empty) to what the decoded body of `request`
// costs while the handler parses and converts it; 503 with Retry-After when that does not fit.
std::optional<HttpResponse> leaseBodyCost(const HttpRequest& request, const HttpsServerOptions& options,
                                          BodyMemoryBudget::Lease* bodyLease);

// The most a deflate stream of `compressedBytes` can unpack to, within `limit`.
std::size_t unpackedBound(std::size_t compressedBytes, std::size_t limit);

// 503 with Retry-After: request bodies fill their memory budget.
HttpResponse bodyMemoryFull();

// Calls a plain handler; an exception becomes 500 with its message.
HttpResponse callHandler(const Handler& handler, const HttpRequest& request);

// Makes the answer sendable (a status the wire can carry, no body where none is allowed) and
// compresses a body longer than `options.compressAbove` in the coding `acceptEncoding` allows.
EncodedResponse encodeResponse(HttpResponse response, const HttpsServerOptions& options,
                               std::string_view acceptEncoding);

}  // namespace krp::transport
