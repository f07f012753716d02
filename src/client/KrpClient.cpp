#include "client/KrpClient.h"

#include "credentials/Palvelintunnukset.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <fstream>
#include <thread>
#include <utility>

namespace krp::client {

namespace {

constexpr std::string_view kSessionPath = "/api/v1/session";

std::string base64(std::string_view bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// The "error" text of an error answer; the body itself when it is no such object.
std::string errorTextOf(const HttpsClientResponse& r)
{
    rapidjson::Document doc;
    doc.Parse(r.body.data(), r.body.size());
    if (!doc.HasParseError() && doc.IsObject()) {
        const auto it = doc.FindMember("error");
        if (it != doc.MemberEnd() && it->value.IsString())
            return {it->value.GetString(), it->value.GetStringLength()};
    }
    if (!r.body.empty())
        return r.body;
    return "HTTP status " + std::to_string(r.status) + " without a message";
}

void expectStatus(const HttpsClientResponse& r, int expected)
{
    if (r.status != expected)
        throw KrpError(r.status, errorTextOf(r));
}

// Parses a 200 answer that must be a JSON object holding `member`.
template <class Answer>
Answer parseAnswer(const HttpsClientResponse& r, const char* member)
{
    expectStatus(r, 200);
    Answer answer;
    answer.text = r.body;
    answer.document.Parse(answer.text.data(), answer.text.size());
    if (answer.document.HasParseError() || !answer.document.IsObject() || !answer.document.HasMember(member))
        throw KrpError(0, std::string("The server's answer is not a JSON object with \"") + member + "\": " + r.body);
    return answer;
}

}  // namespace

KrpError::KrpError(int status, std::string error, bool outcomeUnknown)
    : std::runtime_error(status ? "HTTP " + std::to_string(status) + ": " + error : error), status_(status),
      error_(std::move(error)), outcomeUnknown_(outcomeUnknown)
{
}

const rapidjson::Value& MethodAnswer::result() const
{
    return document["result"];
}

const rapidjson::Value* MethodAnswer::out() const
{
    const auto it = document.FindMember("out");
    return it == document.MemberEnd() ? nullptr : &it->value;
}

const rapidjson::Value& TableAnswer::columns() const
{
    return document["columns"];
}

const rapidjson::Value& TableAnswer::rows() const
{
    return document["rows"];
}

std::string newIdempotencyKey()
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[32];
    if (RAND_bytes(random, sizeof random) != 1)
        throw KrpError(0, "No random bytes for an Idempotency-Key.");
    std::string key;
    for (const unsigned char byte : random)
        key += alphabet[byte % 62];  // 62 letters: a slight bias, still over 180 random bits
    return key;
}

std::string percentEncoded(std::string_view text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-' || u == '.' ||
            u == '_' || u == '~') {
            out += c;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 0xF];
        }
    }
    return out;
}

std::string connectPropertiesJson(const ConnectProperties& p)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    const std::pair<const char*, const std::string*> members[] = {
        {"Application", &p.application},
        {"Token", &p.token},
        {"ApplicationUserName", &p.userName},
        {"ApplicationPassword", &p.password},
    };
    for (const auto& [name, value] : members) {
        w.Key(name);
        w.String(value->data(), static_cast<rapidjson::SizeType>(value->size()));
    }
    w.EndObject();
    return {buffer.GetString(), buffer.GetSize()};
}

// The transport options, once the certificate file to trust is known to be readable.
static const HttpsClientOptions& checkedTransport(const HttpsClientOptions& o)
{
    if (o.verifyPeer && !o.caFile.empty() && !std::ifstream(o.caFile).good())
        throw KrpError(0, "Cannot read the certificate file \"" + o.caFile + "\".");
    return o;
}

KrpClient::KrpClient(KrpClientOptions options)
try : options_(std::move(options)), http_(checkedTransport(options_.transport)) {
} catch (const KrpError&) {
    throw;
} catch (const std::exception& e) {
    throw KrpError(0, std::string("Cannot set up TLS with the certificate file: ") + e.what());
}

KrpClient::~KrpClient() = default;

HttpsClientResponse KrpClient::send(std::string_view method, const std::string& target, std::string_view body,
                                    const HeaderList& headers)
{
    HttpsClientResponse r;
    try {
        r = http_.request(method, target, body, headers);
    } catch (const HttpsClientError& e) {
        last_ = {};
        throw KrpError(0, e.what());
    }
    last_ = {r.status,
             r.contentEncoding,
             r.wireBodySize,
             r.body.size(),
             r.header("Idempotent-Replayed") == "true",
             std::string(r.header("Idempotent-Outcome")),
             1};
    return r;
}

HeaderList KrpClient::bearer() const
{
    return {{"Authorization", "Bearer " + session_}};
}

void KrpClient::requireSession() const
{
    if (session_.empty())
        throw KrpError(0, "No session: open one first (or give the id of an open one).");
}

std::string KrpClient::openSession(const ConnectProperties& properties)
{
    const std::string user = options_.user.value_or(types::PALVELIMEN_KAYTTAJATUNNUS);
    const std::string password = options_.password.value_or(types::PALVELIMEN_SALASANA);
    const auto r = send("POST", std::string(kSessionPath), connectPropertiesJson(properties),
                        {{"Authorization", "Basic " + base64(user + ":" + password)}});
    const auto answer = parseAnswer<JsonAnswer>(r, "session");
    const rapidjson::Value& id = answer.document["session"];
    if (!id.IsString() || id.GetStringLength() == 0)
        throw KrpError(0, "The server's answer holds no session id: " + r.body);
    session_.assign(id.GetString(), id.GetStringLength());
    connect_ = properties;
    return session_;
}

MethodAnswer KrpClient::call(std::string_view method, std::string_view jsonArguments)
{
    return call(method, jsonArguments, newIdempotencyKey());
}

MethodAnswer KrpClient::call(std::string_view method, std::string_view jsonArguments, std::string_view idempotencyKey)
{
    requireSession();
    const std::string target = "/api/v1/methods/" + percentEncoded(method);
    auto pause = options_.repeatPause;
    for (int attempt = 1;; ++attempt) {
        try {
            HeaderList headers = bearer();
            headers.emplace_back("Idempotency-Key", std::string(idempotencyKey));
            const auto r = send("POST", target, jsonArguments, headers);
            last_.attempts = attempt;
            try {
                return parseAnswer<MethodAnswer>(r, "result");
            } catch (const KrpError& e) {
                if (e.status() == 409 && last_.outcome == "unknown")
                    throw KrpError(e.status(), e.error(), true);
                throw;
            }
        } catch (const KrpError& e) {
            if (e.outcomeUnknown() || attempt > options_.callRepeats || !mayRepeat(e))
                throw;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min<std::chrono::milliseconds>(pause * 2, std::chrono::seconds(4));
    }
}

bool KrpClient::mayRepeat(const KrpError& e)
{
    // No answer came: the call may or may not have run. The same key makes the repeat safe.
    if (e.status() == 0)
        return last_.status == 0;
    // Not run: the server is stopping, or could not record the key; or the key still runs.
    if (e.status() == 503 || (e.status() == 409 && last_.outcome == "in-progress"))
        return true;
    // The session ended (expired, or the server stopped): the same call, with the same key, in
    // a new session of the same user finds what the server recorded of it.
    if (e.status() == 401 && connect_) {
        try {
            openSession(*connect_);
        } catch (const KrpError& opening) {
            if (opening.status() != 0 && opening.status() != 503)
                throw;
            session_.clear();  // tried again at the next repeat
        }
        return true;
    }
    return false;
}

TableAnswer KrpClient::provider(std::string_view name)
{
    requireSession();
    const auto r = send("GET", "/api/v1/providers/" + percentEncoded(name), {}, bearer());
    auto answer = parseAnswer<TableAnswer>(r, "rows");
    if (!answer.document.HasMember("columns") || !answer.document["columns"].IsArray() ||
        !answer.document["rows"].IsArray())
        throw KrpError(0, "The server's answer is not a table object: " + r.body);
    return answer;
}

void KrpClient::closeSession()
{
    requireSession();
    const HeaderList headers = bearer();
    session_.clear();
    const auto r = send("DELETE", std::string(kSessionPath), {}, headers);
    expectStatus(r, 204);
}

}  // namespace krp::client
