#pragma once
// The client side of the server's wire protocol: open a session through both gates, call the
// published methods of TServerMethods1 with a JSON array of arguments, fetch the rows a method
// left in a provider, close the session.
//
//   KrpClientOptions options;                    // 127.0.0.1:14002, compiled-in credentials
//   options.transport.caFile = "test.pem";       // trust the server's own certificate
//   options.transport.verifyPeer = true;
//   KrpClient client(options);
//   client.openSession({"Kairanet", accessCode, "MATTI", "salasana"});
//   MethodAnswer a = client.call("MonivaiheinenTuotehaku", R"([0, "6412345678901"])");
//   if (a.result().GetStringLength() == 0) {               // "" means found
//       TableAnswer rows = client.provider("dspTuotelista");
//       for (const auto& row : rows.rows().GetArray()) ...
//   }
//   client.closeSession();
//
// Every failure is a KrpError: an error answer of the server (its HTTP status and "error"
// text) or no usable answer at all (status 0). Blocking and not thread-safe: one KrpClient per
// thread. The connection is kept alive between requests.
#include "client/transport/HttpsClient.h"

#include <rapidjson/document.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace krp::client {

class KrpError : public std::runtime_error {
public:
    KrpError(int status, std::string error, bool outcomeUnknown = false);

    // The HTTP status of the server's answer; 0 when there was none (server unreachable, TLS
    // refused, connection broken, or an answer that is not the protocol's JSON).
    int status() const { return status_; }
    // The server's "error" text, or the description of what failed locally.
    const std::string& error() const { return error_; }
    // The server answered that this call was started before but its outcome is unknown (409,
    // Idempotent-Outcome: unknown: it stopped while the call ran). The call is not run again:
    // stop and let a person check the data, as the error text says.
    bool outcomeUnknown() const { return outcomeUnknown_; }

private:
    int status_;
    std::string error_;
    bool outcomeUnknown_ = false;
};

struct KrpClientOptions {
    HttpsClientOptions transport;  // host, port, certificate check, compression, timeout
    // The fixed application credentials of the authentication event; nothing: the ones
    // compiled into the server and its clients.
    std::optional<std::string> user;
    std::optional<std::string> password;
    // How many times a method call is sent again, with the same Idempotency-Key, when its
    // answer was lost (connection broken or timed out), when the server said it did not run it
    // (503) or that the same key still runs (409 in progress), or when the session had ended
    // (401: a new session is opened with the properties of openSession, and the call is sent
    // there with the same key). The server answers such a repeat from what it kept, so the
    // method runs at most once.
    int callRepeats = 2;
    // The wait before the first repeat; it doubles with each further one, up to 4 s.
    std::chrono::milliseconds repeatPause{200};
};

// Connect properties of the session request; an empty one is sent as the empty text.
struct ConnectProperties {
    std::string application;  // "Application", e.g. "Kairanet"
    std::string token;        // "Token": the access code stored in the ERP's settings
    std::string userName;     // "ApplicationUserName": an ERP user
    std::string password;     // "ApplicationPassword": that user's password
};

// A JSON answer: the body as the server sent it (decompressed) and its parsed form.
struct JsonAnswer {
    std::string text;
    rapidjson::Document document;
};

// {"result": R} or {"result": R, "out": {"maara": N}}.
struct MethodAnswer : JsonAnswer {
    const rapidjson::Value& result() const;
    // The in/out parameters by name; nullptr for a method without them.
    const rapidjson::Value* out() const;
};

// {"columns": [{"name": ..., "type": ...}, ...], "rows": [[...], ...]}.
struct TableAnswer : JsonAnswer {
    const rapidjson::Value& columns() const;
    const rapidjson::Value& rows() const;
};

// What came over the wire for the last request.
struct ResponseInfo {
    int status = 0;
    std::string contentEncoding;  // "deflate", "gzip" or empty
    std::size_t wireBytes = 0;    // body bytes as sent
    std::size_t bodyBytes = 0;    // after decompression
    bool replayed = false;        // a method call's answer kept from an earlier sending
    std::string outcome;          // Idempotent-Outcome: "unknown", "in-progress" or empty
    int attempts = 0;             // how many times the request was sent
};

class KrpClient {
public:
    explicit KrpClient(KrpClientOptions options = {});
    ~KrpClient();
    KrpClient(const KrpClient&) = delete;
    KrpClient& operator=(const KrpClient&) = delete;

    // POST /api/v1/session: passes both gates and keeps the new session's id, which it also
    // returns. 401 wrong application credentials, 403 refused by the connect event. The
    // properties are kept for a new session when a repeated call finds this one ended.
    std::string openSession(const ConnectProperties& properties);

    // Works in a session opened elsewhere (another process, an earlier run).
    // Its end is not mended: a call that finds it ended fails with 401.
    void useSession(std::string sessionId)
    {
        session_ = std::move(sessionId);
        connect_.reset();
    }
    const std::string& sessionId() const { return session_; }
    bool hasSession() const { return !session_.empty(); }

    // POST /api/v1/methods/{method} with `jsonArguments`, a JSON array of the method's
    // arguments in declaration order, sent as given. Needs a session. Every call carries a
    // fresh Idempotency-Key; a call whose answer is lost is sent again with the same key (see
    // KrpClientOptions::callRepeats). A KrpError with outcomeUnknown() ends the repeats.
    MethodAnswer call(std::string_view method, std::string_view jsonArguments = "[]");
    // The same with the key given: repeating a call of an earlier run (same session, same
    // method and arguments) gets that call's answer without running it again.
    MethodAnswer call(std::string_view method, std::string_view jsonArguments, std::string_view idempotencyKey);

    // GET /api/v1/providers/{name}: the rows the session's last call left in that provider.
    TableAnswer provider(std::string_view name);

    // DELETE /api/v1/session. The id is forgotten also when the server no longer knew it.
    void closeSession();

    const ResponseInfo& lastResponse() const { return last_; }
    HttpsClient& transport() { return http_; }

private:
    HttpsClientResponse send(std::string_view method, const std::string& target, std::string_view body,
                             const HeaderList& headers);
    HeaderList bearer() const;
    void requireSession() const;
    // Whether the call that failed with `e` may be sent again with its key; opens a new
    // session first when the old one ended.
    bool mayRepeat(const KrpError& e);

    KrpClientOptions options_;
    HttpsClient http_;
    std::string session_;
    std::optional<ConnectProperties> connect_;  // of the last openSession
    ResponseInfo last_;
};

// A fresh random Idempotency-Key (32 characters from A-Z a-z 0-9).
std::string newIdempotencyKey();

// `text` with every character outside A-Z a-z 0-9 - . _ ~ percent-encoded, for a path segment.
std::string percentEncoded(std::string_view text);

// The JSON text of the session request's body.
std::string connectPropertiesJson(const ConnectProperties& properties);

}  // namespace krp::client
