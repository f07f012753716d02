#include "server/transport/RequestPipeline.h"

#include <algorithm>
#include <exception>
#include <limits>

namespace krp::transport {
namespace {

// A status the wire can carry as a final answer, with no body where none is allowed.
void makeSendable(HttpResponse& response)
{
    if (response.status < 200 || response.status > 599) {
        response = HttpResponse::error(
            500, "Palvelin tuotti virheellisen vastauskoodin " + std::to_string(response.status) + ".");
        return;
    }
    if (response.status == 204 || response.status == 304)
        response.body.clear();
}

}  // namespace

HttpResponse callHandler(const Handler& handler, const HttpRequest& request)
{
    try {
        return handler(request);
    } catch (const std::exception& e) {
        return HttpResponse::error(500, e.what());
    } catch (...) {
        return HttpResponse::error(500, "Palvelimen sisäinen virhe.");
    }
}

std::size_t unpackedBound(std::size_t compressedBytes, std::size_t limit)
{
    // Deflate packs at most 1032 bytes into one (a long run of one byte); a gzip member adds
    // a header and trailer of its own, which only lowers the ratio.
    constexpr std::size_t maxRatio = 1032;
    if (compressedBytes >= limit / maxRatio)
        return limit;
    return compressedBytes * maxRatio + 1024 < limit ? compressedBytes * maxRatio + 1024 : limit;
}

HttpResponse bodyMemoryFull()
{
    HttpResponse r =
        HttpResponse::error(503, "Palvelimella on juuri nyt liikaa pyyntöjä kesken; yritä hetken kuluttua uudelleen.");
    r.headers.emplace_back("Retry-After", "5");
    return r;
}

std::size_t bodyCost(std::size_t bytes, const HttpsServerOptions& options)
{
    const std::size_t factor = std::max<std::size_t>(options.bodyCostFactor, 1);
    return bytes > std::numeric_limits<std::size_t>::max() / factor ? std::numeric_limits<std::size_t>::max()
                                                                    : bytes * factor;
}

std::optional<HttpResponse> leaseBodyCost(const HttpRequest& request, const HttpsServerOptions& options,
                                          BodyMemoryBudget::Lease* bodyLease)
{
    if (bodyLease && *bodyLease && !bodyLease->resize(bodyCost(request.body.size(), options)))
        return bodyMemoryFull();
    return std::nullopt;
}

std::optional<HttpResponse> decodeRequestBody(HttpRequest& request, ContentCoding requestCoding,
                                              const HttpsServerOptions& options, BodyMemoryBudget::Lease* bodyLease)
{
    if (requestCoding == ContentCoding::Identity)
        return std::nullopt;
    if (bodyLease && *bodyLease &&
        !bodyLease->resize(request.body.size() + unpackedBound(request.body.size(), options.maxBodyBytes)))
        return bodyMemoryFull();
    auto decoded = decompress(request.body, requestCoding, options.maxBodyBytes);
    if (decoded.status == DecodeStatus::TooLarge)
        return HttpResponse::error(
            413, "Pyynnön runko on purettuna liian suuri (yli " + std::to_string(options.maxBodyBytes) + " tavua).");
    if (decoded.status == DecodeStatus::Corrupt)
        return HttpResponse::error(400, "Pyynnön runkoa ei voitu purkaa (Content-Encoding: " +
                                            std::string(contentCodingName(requestCoding)) + ").");
    request.body = std::move(decoded.data);
    if (bodyLease && *bodyLease)
        bodyLease->resize(request.body.size());
    return std::nullopt;
}

EncodedResponse encodeResponse(HttpResponse response, const HttpsServerOptions& options,
                               std::string_view acceptEncoding)
{
    EncodedResponse out;
    out.response = std::move(response);
    makeSendable(out.response);
    if (out.response.body.size() > options.compressAbove) {
        out.varyOnAcceptEncoding = true;
        out.coding = chooseResponseCoding(acceptEncoding);
        if (out.coding != ContentCoding::Identity)
            out.response.body = compress(out.response.body, out.coding);
    }
    return out;
}

}  // namespace krp::transport
