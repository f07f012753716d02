// Bytes as a client sends them on a connection: parsed as the transport parses a request,
// its head checked, its body decoded within the limits, and what the endpoint reads from it
// (target, credentials, connect properties) taken apart.
#include "server/ConnectPropertiesJson.h"
#include "server/ProtocolPaths.h"
#include "server/RequestCredentials.h"
#include "server/transport/RequestHead.h"
#include "server/transport/RequestPipeline.h"

#include <boost/beast/http.hpp>

#include <cstdint>
#include <cstdlib>

namespace http = boost::beast::http;
using namespace krp;

namespace {

transport::HttpResponse endpointReading(const transport::HttpRequest& request)
{
    const std::string_view path = paths::pathOf(request.target);
    const auto basic = basicCredentials(request);
    const std::string bearer = bearerToken(request);
    if (path == "/api/v1/session" && request.method == "POST") {
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
    parser.eager(true);
    boost::beast::error_code ec;
    boost::asio::const_buffer rest(data, size);
    while (rest.size() > 0 && !parser.is_done()) {
        const std::size_t used = parser.put(rest, ec);
        if (ec == http::error::need_more)
            return 0;
        if (ec)
            return 0;  // answered 400/413/431 and closed
        rest += used;
        if (used == 0)
            break;
    }
    if (!parser.is_header_done())
        return 0;

    const auto verdict = transport::checkRequestHead(parser.get(), parser.chunked());
    if (verdict.refusal)
        return 0;
    if (!parser.is_done())
        return 0;

    transport::HttpRequest request = transport::requestOfHead(parser.get());
    request.body = parser.get().body();
    request.remoteAddress = "127.0.0.2";
    transport::BodyMemoryBudget budget(4 * 1024 * 1024);
    auto lease = budget.lease(request.body.size());
    const std::string acceptEncoding(parser.get()[http::field::accept_encoding]);
    auto refused = transport::decodeRequestBody(request, verdict.coding, options, &lease);
    transport::HttpResponse response =
        refused ? std::move(*refused) : transport::callHandler(&endpointReading, request);
    const auto answer = transport::encodeResponse(std::move(response), options, acceptEncoding);
    if (answer.response.status < 200 || answer.response.status > 599)
        std::abort();
    return 0;
}
