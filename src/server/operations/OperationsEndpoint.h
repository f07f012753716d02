#pragma once
// The paths for operators and tools, beside the protocol's four:
//
//   GET /api/v1/health        200 {"status":"ok"} or 503 {"status":"unavailable","reason":...}; with
//                             "journal": ... when the journal of keyed calls was missing or damaged
//   GET /metrics              Prometheus text; loopback and the listed readers only (403)
//   GET /api/v1/openapi.json  the OpenAPI description of the protocol
//
// None needs credentials. Also counts the answers of session openings and method calls.
#include "methods/ServiceContext.h"
#include "server/Route.h"
#include "server/operations/HealthCheck.h"
#include "server/session/SessionManager.h"
#include "server/transport/HttpMessage.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krp {

class OperationsEndpoint {
public:
    OperationsEndpoint(session::SessionManager& sessions, ServiceContext& service);

    // Addresses besides loopback that may read /metrics ("192.168.1.20", "::1", ...).
    void setMetricsReaders(std::vector<std::string> addresses) { metricsReaders_ = std::move(addresses); }
    // What the health answer says of the journal of keyed calls ("journal"): set when it was
    // missing or damaged at the start; empty: nothing to say.
    void setJournalNote(std::string note) { journalNote_ = std::move(note); }

    // The answer to a request for one of the paths above (route.isOperator()).
    transport::HttpResponse handle(const transport::HttpRequest& request, const Route& route);

    // The answer to an operator path asked with anything but GET.
    static transport::HttpResponse wrongMethod(std::string_view path);

    // `respond`, counting the answer of a session opening or method call on its way (any other
    // request passes unchanged).
    static transport::Respond counting(const Route& route, std::string_view method, transport::Respond respond);
    static void count(const Route& route, std::string_view method, const transport::HttpResponse& response,
                      std::chrono::steady_clock::time_point started);

private:
    transport::HttpResponse health();
    transport::HttpResponse metrics(const transport::HttpRequest& request);

    session::SessionManager& sessions_;
    ServiceContext& service_;
    HealthCheck healthCheck_;
    std::vector<std::string> metricsReaders_;
    std::string journalNote_;
};

// Whether `address` ("127.0.0.5", "::1", "::ffff:127.0.0.1") is a loopback address.
bool isLoopbackAddress(const std::string& address);
// Whether two address texts name the same address: "::ffff:127.0.0.1" is 127.0.0.1, and
// IPv6 addresses compare in any of their written forms.
bool sameAddress(const std::string& a, const std::string& b);
// The comma- or blank-separated addresses of a settings value, each trimmed.
std::vector<std::string> addressList(const std::string& text);

}  // namespace krp
