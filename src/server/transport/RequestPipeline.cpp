#include "server/transport/RequestPipeline.h"

#include <exception>

namespace krp::transport {
namespace {

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

std::size_t unpackedBound(std::size_t compressedBytes, std::size_t limit)
{
    // Deflate packs at most 1032 bytes into one (a long run of one byte); a gzip member adds
    // a header and trailer of its own, which only lowers the ratio.
    constexpr std::size_t maxRatio = 1032;
    if (compressedBytes >= limit / maxRatio)
        return limit;
    return compressedBytes * maxRatio + 1024 < limit ? compressedBytes * maxRatio + 1024 : limit;
}

EncodedResponse runRequest(const Handler& handler, const HttpsServerOptions& options,
                           HttpRequest& request, ContentCoding requestCoding,
                           std::string_view acceptEncoding, BodyMemoryBudget::Lease* bodyLease)
{
    EncodedResponse out;
    DecodeResult decoded;
    if (requestCoding != ContentCoding::Identity && bodyLease && *bodyLease &&
        !bodyLease->resize(request.body.size() + unpackedBound(request.body.size(), options.maxBodyBytes))) {
        out.response = HttpResponse::error(
            503, "Palvelimella on juuri nyt liikaa pyyntöjä kesken; yritä hetken kuluttua uudelleen.");
        out.response.headers.emplace_back("Retry-After", "5");
        return out;
    }
    if (requestCoding == ContentCoding::Identity)
        decoded.data = std::move(request.body);
    else
        decoded = decompress(request.body, requestCoding, options.maxBodyBytes);
    if (decoded.status == DecodeStatus::TooLarge) {
        out.response = HttpResponse::error(413, "Pyynnön runko on purettuna liian suuri (yli " +
                                                    std::to_string(options.maxBodyBytes) +
                                                    " tavua).");
    } else if (decoded.status == DecodeStatus::Corrupt) {
        out.response = HttpResponse::error(
            400, "Pyynnön runkoa ei voitu purkaa (Content-Encoding: " +
                     std::string(contentCodingName(requestCoding)) + ").");
    } else {
        request.body = std::move(decoded.data);
        if (bodyLease && *bodyLease)
            bodyLease->resize(request.body.size());
        out.response = callHandler(handler, request);
        makeSendable(out.response);
    }

    if (out.response.body.size() > options.compressAbove) {
        out.varyOnAcceptEncoding = true;
        out.coding = chooseResponseCoding(acceptEncoding);
        if (out.coding != ContentCoding::Identity)
            out.response.body = compress(out.response.body, out.coding);
    }
    return out;
}

}  // namespace krp::transport
