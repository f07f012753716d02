// Bytes as a client sends them on a connection: parsed as the transport parses a request
// (through a read buffer of the connection's bounded size, chunk extensions and trailers
// counted), its head checked, its body decoded within the limits, and what the endpoint reads
// from it (target, credentials, connect properties) taken apart. Nothing here catches: an
// exception out of the parser is a finding.
#include "server/ConnectPropertiesJson.h"
#include "server/RequestCredentials.h"
#include "server/Route.h"
#include "server/transport/ChunkFraming.h"
#include "server/transport/RequestHead.h"
#include "server/transport/RequestPipeline.h"
#include "shared/JsonText.h"

#include <boost/beast/http.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace http = boost::beast::http;
using namespace krp;

namespace {

transport::HttpResponse endpointReading(const transport::HttpRequest& request)
{
    const Route route = routeOf(request.target);
    const std::string& path = route.path;
    const auto basic = basicCredentials(request);
    const std::string bearer = bearerToken(request);
    if (route.kind == Route::Kind::Session && request.method == "POST") {
        std::string error;
        const auto properties = readConnectProperties(request.body, error);
        if (!properties && error.empty())
            std::abort();  // a refusal always says why
    }
    std::string body = "{\"path\":" + transport::jsonQuoted(path) + ",\"bearer\":" + transport::jsonQuoted(bearer) +
                       ",\"user\":" + transport::jsonQuoted(basic ? basic->first.toStdString() : "") + "}";
    body.append(request.body.size() % 2048, ' ');  // sometimes over the compression threshold
    return transport::HttpResponse::json(200, body);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    transport::HttpsServerOptions options;
    options.maxBodyBytes = 1024 * 1024;  // the real limit's logic, with a fuzzer's memory
    options.maxHeaderBytes = 16 * 1024;

    http::request_parser<http::string_body> parser;
    parser.header_limit(static_cast<std::uint32_t>(options.maxHeaderBytes));
    parser.body_limit(options.maxBodyBytes);
    transport::ChunkFraming framing(options.maxHeaderBytes);

    // The connection reads into a buffer of bounded size and the parser takes from its front;
    // the input arrives in pieces of at most 16 KiB (a TLS record).
    const std::size_t bufferLimit = transport::ChunkFraming::readBufferLimit(options.maxHeaderBytes);
    std::string buffer;
    std::size_t next = 0;
    bool headChecked = false;
    transport::HeadVerdict verdict;
    transport::HttpRequest request;
    boost::beast::error_code ec;
    while (!parser.is_done()) {
        const std::size_t room = bufferLimit - buffer.size();
        const std::size_t piece = std::min({room, size - next, std::size_t{16 * 1024}});
        if (piece == 0)
            return 0;  // the buffer is full (431) or the client sent no more (it times out)
        buffer.append(reinterpret_cast<const char*>(data) + next, piece);
        next += piece;
        for (;;) {
            const std::size_t used = parser.put(boost::asio::buffer(buffer), ec);
            buffer.erase(0, used);
            if (ec == http::error::need_more)
                break;
            if (ec)
                return 0;  // answered 400/413/431 and closed
            if (parser.is_header_done() && !headChecked) {
                headChecked = true;
                verdict = transport::checkRequestHead(parser.get(), parser.chunked());
                if (verdict.refusal)
                    return 0;
                // Trailer fields that come later are not part of the request.
                request = transport::requestOfHead(parser.get());
                framing.attach(parser);
                parser.eager(true);  // the body is read as it comes, as the connection reads it
            }
            if (parser.is_done() || used == 0)
                break;
        }
    }
    if (framing.trailerTooLarge(parser.get()))
        return 0;  // 431

    request.body = parser.get().body();
    request.remoteAddress = "127.0.0.2";
    transport::BodyMemoryBudget budget(4 * 1024 * 1024);
    auto lease = budget.lease(request.body.size());
    const std::string acceptEncoding(parser.get()[http::field::accept_encoding]);
    auto refused = transport::decodeRequestBody(request, verdict.coding, options, &lease);
    if (!refused)
        refused = transport::leaseBodyCost(request, options, &lease);
    transport::HttpResponse response =
        refused ? std::move(*refused) : transport::callHandler(&endpointReading, request);
    const auto answer = transport::encodeResponse(std::move(response), options, acceptEncoding);
    if (answer.response.status < 200 || answer.response.status > 599)
        std::abort();
    return 0;
}
