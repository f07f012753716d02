#pragma once
// A running HTTPS server on 127.0.0.1 with a test certificate and a few routes:
//   POST /echo        answers the request body as it arrived at the handler
//   POST /length      answers {"length": size of the request body as the handler saw it}
//   GET  /size/N      answers a JSON text of exactly N bytes
//   GET  /whoami      answers what the handler saw of the client
//   anything else     404
// A test may replace `route` before sending requests.
#include "TestCertificate.h"

#include "client/transport/HttpsClient.h"
#include "server/transport/HttpsServer.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>

namespace krp::test {

using transport::HttpRequest;
using transport::HttpResponse;

// A JSON text of exactly `size` bytes (at least 2): a string of repeating letters.
std::string jsonOfSize(std::size_t size);

HttpResponse standardRoutes(const HttpRequest& request);

class ServerFixture : public ::testing::Test {
protected:
    ServerFixture();
    ~ServerFixture() override;

    transport::HttpsServerOptions serverOptions() const;
    client::HttpsClientOptions clientOptions() const;

    void setRoute(std::function<HttpResponse(const HttpRequest&)> route);

    TestCertificate certificate;
    transport::HttpsServer server;

private:
    std::mutex routeMutex_;
    std::function<HttpResponse(const HttpRequest&)> route_ = &standardRoutes;
};

}  // namespace krp::test
