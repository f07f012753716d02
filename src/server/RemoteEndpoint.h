#pragma once
// The remote endpoint's request handling: the four paths of the wire protocol, between the
// transport (plain HTTP requests) and the session's method module. No sockets here.
//
//   POST   /api/v1/session            both gates; opens a session
//   POST   /api/v1/methods/{Method}   one published method in the caller's session
//   GET    /api/v1/providers/{name}   rows a method left open in the session's query
//   DELETE /api/v1/session            ends the caller's session
#include "methods/ServiceContext.h"
#include "server/LoginThrottle.h"
#include "server/protocol/MethodRegistry.h"
#include "server/session/SessionManager.h"
#include "server/transport/HttpMessage.h"

#include <functional>
#include <optional>

namespace krp::db { class Query; }

namespace krp {

class TServerMethods1;

// Calls the published method `method` of the session's module with the JSON arguments `body`.
using MethodDispatcher = std::function<protocol::CallResult(TServerMethods1& module, std::string_view method,
                                                            std::string_view body,
                                                            const protocol::MethodErrorHandler& onError)>;

// The published methods of TServerMethods1 (publishedMethods()).
protocol::CallResult callPublishedMethod(TServerMethods1& module, std::string_view method, std::string_view body,
                                         const protocol::MethodErrorHandler& onError);

class RemoteEndpoint {
public:
    // `windowQuery` gives the window's shared query, which both connect checks use under the
    // window lock. `methods` answers method calls; empty: callPublishedMethod.
    RemoteEndpoint(session::SessionManager& sessions, ServiceContext& service,
                   std::function<db::Query&()> windowQuery, MethodDispatcher methods = {},
                   LoginThrottleOptions throttle = {});

    // Runs on a transport worker thread; may block on the database.
    transport::HttpResponse handle(const transport::HttpRequest& request);

    // The transport's head check: runs before a request's body is read, and refuses what
    // needs no body to be refused: a session opening from a locked-out address (429), one
    // without the fixed credentials (401), a method call without an open session (401).
    // Never blocks on the database.
    std::optional<transport::HttpResponse> checkHead(const transport::HttpRequest& request);

private:
    transport::HttpResponse openSession(const transport::HttpRequest& request);
    std::optional<transport::HttpResponse> lockedOut(const std::string& address);
    // Counts a failed opening of `address` (logged with the user name it tried) and logs a
    // lock-out that it starts.
    void openingFailed(const std::string& address, const QString& user);
    transport::HttpResponse callMethod(const transport::HttpRequest& request, const std::string& method);
    transport::HttpResponse fetchProvider(const transport::HttpRequest& request, const std::string& provider);
    transport::HttpResponse closeSession(const transport::HttpRequest& request);
    // Runs `work` on the module of the session named by the request's bearer id, in that
    // session's turn; 401 when there is no such open session.
    transport::HttpResponse inCallersSession(const transport::HttpRequest& request,
                                             const std::function<transport::HttpResponse(TServerMethods1&)>& work);

    session::SessionManager& sessions_;
    ServiceContext& service_;
    std::function<db::Query&()> windowQuery_;
    MethodDispatcher methods_;
    LoginThrottle throttle_;
};

// The server's error event: logs "Server: Tapahtui virhe: " and the message.
void DSServer1Error(const QString& message);

}  // namespace krp
