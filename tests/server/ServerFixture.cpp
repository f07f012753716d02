#include "ServerFixture.h"
#include "shared/JsonText.h"

namespace krp::test {

std::string jsonOfSize(std::size_t size)
{
    std::string text = "\"";
    for (std::size_t i = 0; i + 2 < size; ++i)
        text += static_cast<char>('a' + i % 26);
    return text + "\"";
}

HttpResponse standardRoutes(const HttpRequest& request)
{
    if (request.method == "POST" && request.target == "/echo")
        return HttpResponse::json(200, request.body);
    if (request.method == "POST" && request.target == "/length")
        return HttpResponse::json(200, "{\"length\": " + std::to_string(request.body.size()) + "}");
    if (request.method == "GET" && request.target.rfind("/size/", 0) == 0)
        return HttpResponse::json(200, jsonOfSize(std::stoul(request.target.substr(6))));
    if (request.method == "GET" && request.target == "/whoami")
        return HttpResponse::json(
            200, "{\"address\": " + transport::jsonQuoted(request.remoteAddress) + ", \"port\": " +
                     std::to_string(request.remotePort) + ", \"protocol\": " + transport::jsonQuoted(request.protocol) +
                     ", \"authorization\": " + transport::jsonQuoted(request.header("authorization")) + "}");
    return HttpResponse::error(404, "Ei löydy.");
}

ServerFixture::ServerFixture()
    : server([this](const HttpRequest& request) {
          std::function<HttpResponse(const HttpRequest&)> route;
          {
              std::lock_guard lock(routeMutex_);
              route = route_;
          }
          return route(request);
      })
{
    server.start(serverOptions());
}

ServerFixture::~ServerFixture()
{
    server.stop();
}

transport::HttpsServerOptions ServerFixture::serverOptions() const
{
    transport::HttpsServerOptions options;
    options.address = "127.0.0.1";
    options.port = 0;
    options.certificateFile = certificate.certificateFile();
    options.keyFile = certificate.keyFile();
    options.ioThreads = 2;
    options.workerThreads = 4;
    return options;
}

client::HttpsClientOptions ServerFixture::clientOptions() const
{
    client::HttpsClientOptions options;
    options.host = "127.0.0.1";
    options.port = server.port();
    options.timeout = std::chrono::seconds(20);
    return options;
}

void ServerFixture::setRoute(std::function<HttpResponse(const HttpRequest&)> route)
{
    std::lock_guard lock(routeMutex_);
    route_ = std::move(route);
}

}  // namespace krp::test
