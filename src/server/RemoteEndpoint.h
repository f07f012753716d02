#pragma once
// The remote endpoint's request handling: the four paths of the wire protocol, between the
// transport (plain HTTP requests) and the session's method module. No sockets here.
//
//   POST   /api/v1/session            both gates; opens a session
//   POST   /api/v1/methods/{Method}   one published method in the caller's session
//   GET    /api/v1/providers/{name}   rows a method left open in the session's query
//   DELETE /api/v1/session            ends the caller's session
//
// and, without credentials, the health, metrics and description paths (OperationsEndpoint).
#include "methods/ServiceContext.h"
#include "server/operations/OperationsEndpoint.h"
#include "server/protocol/MethodRegistry.h"
#include "server/session/SessionManager.h"
#include "server/transport/HttpMessage.h"

#include <functional>

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
                   std::function<db::Query&()> windowQuery, MethodDispatcher methods = {});

    // Runs on a transport worker thread; may block on the database.
    transport::HttpResponse handle(const transport::HttpRequest& request);

    OperationsEndpoint& operations() { return operations_; }

private:
    transport::HttpResponse route(const transport::HttpRequest& request);
    transport::HttpResponse openSession(const transport::HttpRequest& request);
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
    OperationsEndpoint operations_;
};

// The server's error event: logs "Server: Tapahtui virhe: " and the message.
void DSServer1Error(const QString& message);

}  // namespace krp
