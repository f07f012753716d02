#include "server/operations/ConsoleEndpoint.h"

#include "db/Database.h"
#include "log/EventLog.h"
#include "metrics/Metrics.h"
#include "server/Route.h"
#include "server/operations/ConsoleAssets.h"
#include "server/operations/OperationsEndpoint.h"
#include "shared/JsonText.h"

#include <algorithm>
#include <charconv>
#include <optional>

#ifndef KRP_VERSION
#define KRP_VERSION "?"
#endif

namespace krp {

using transport::HttpRequest;
using transport::HttpResponse;
using transport::jsonQuoted;

namespace {

constexpr std::string_view kPagePath = "/console";
constexpr std::string_view kStylePath = "/console/console.css";
constexpr std::string_view kScriptPath = "/console/console.js";
constexpr std::string_view kIconPath = "/console/console.svg";
constexpr std::string_view kStatePath = "/console/state";

// The page loads only its own style and script and fetches only from this server; no inline
// script or style, no frames around it.
void addConsoleHeaders(HttpResponse& r)
{
    r.headers.emplace_back("Content-Security-Policy",
                           "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
                           "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
    r.headers.emplace_back("X-Content-Type-Options", "nosniff");
    r.headers.emplace_back("X-Frame-Options", "DENY");
    r.headers.emplace_back("Referrer-Policy", "no-referrer");
    r.headers.emplace_back("Cache-Control", "no-store");
}

HttpResponse text(std::string_view body, const char* contentType)
{
    HttpResponse r;
    r.status = 200;
    r.body = std::string(body);
    r.contentType = contentType;
    return r;
}

std::string quoted(const QString& text)
{
    return jsonQuoted(text.toUtf8().toStdString());
}

// The value of `name` in the target's query ("...?since=12&x=1"); nothing when absent.
std::optional<std::string_view> queryValue(std::string_view target, std::string_view name)
{
    const auto q = target.find('?');
    if (q == std::string_view::npos)
        return std::nullopt;
    std::string_view query = target.substr(q + 1);
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const auto eq = pair.find('=');
        if (pair.substr(0, eq) == name)
            return eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1);
        if (amp == std::string_view::npos)
            break;
        query.remove_prefix(amp + 1);
    }
    return std::nullopt;
}

}  // namespace

ConsoleEndpoint::ConsoleEndpoint(session::SessionManager& sessions, ServiceContext& service)
    : sessions_(sessions), service_(service), readers_(addressList(kDefaultConsoleReaders))
{
}

void ConsoleEndpoint::serving(int port)
{
    port_ = port;
    startedAt_ = std::chrono::steady_clock::now().time_since_epoch().count();
}

bool ConsoleEndpoint::isConsolePath(const HttpRequest& request)
{
    const std::string_view path = paths::pathOf(request.target);
    return path == kPagePath || path.substr(0, kPagePath.size() + 1) == "/console/";
}

bool ConsoleEndpoint::mayRead(const std::string& address) const
{
    return std::any_of(readers_.begin(), readers_.end(),
                       [&](const std::string& listed) { return sameAddress(listed, address); });
}

HttpResponse ConsoleEndpoint::handle(const HttpRequest& request, bool stopping) const
{
    HttpResponse r;
    const std::string_view path = paths::pathOf(request.target);
    if (!mayRead(request.remoteAddress)) {
        r = HttpResponse::error(403, "Konsolia saa lukea vain asetusten Konsolin_osoitteet-luettelon osoitteista.");
    } else if (request.method != "GET") {
        r = HttpResponse::error(405, "The console is read with GET.");
        r.headers.emplace_back("Allow", "GET");
    } else if (path == kPagePath) {
        r = text(consolePage(), "text/html; charset=utf-8");
    } else if (path == kStylePath) {
        r = text(consoleStyle(), "text/css; charset=utf-8");
    } else if (path == kScriptPath) {
        r = text(consoleScript(), "text/javascript; charset=utf-8");
    } else if (path == kIconPath) {
        r = text(consoleIcon(), "image/svg+xml");
    } else if (path == kStatePath) {
        const std::optional<std::string_view> since = queryValue(request.target, "since");
        long long after = 0;
        if (since && !since->empty()) {
            const auto [end, ec] = std::from_chars(since->data(), since->data() + since->size(), after);
            if (ec != std::errc() || end != since->data() + since->size() || after < 0)
                r = HttpResponse::error(400, "since must be a line number (0 or more).");
        }
        if (r.status != 400)
            r = HttpResponse::json(200, stateJson(after, stopping));
    } else {
        r = HttpResponse::error(404, "The console's paths are /console and /console/state.");
    }
    addConsoleHeaders(r);
    return r;
}

std::string ConsoleEndpoint::stateJson(long long after, bool stopping) const
{
    std::string j = "{\"state\":";
    j += stopping ? "\"pysaytetaan\"" : "\"palvelee\"";
    j += ",\"version\":" + jsonQuoted(KRP_VERSION);
    j += ",\"port\":" + std::to_string(port_.load());
    const auto started = std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(startedAt_.load()));
    const auto uptime =
        startedAt_.load() == 0
            ? std::chrono::seconds(0)
            : std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
    j += ",\"uptimeSeconds\":" + std::to_string(uptime.count());
    // The database as the settings describe it, passwords left out.
    if (service_.database) {
        j += ",\"database\":" + quoted(service_.database->settings().describe());
        j += std::string(",\"databaseOpen\":") + (service_.database->isOpen() ? "true" : "false");
    } else {
        j += ",\"database\":\"\",\"databaseOpen\":false";
    }
    j += ",\"sessions\":" + std::to_string(sessions_.size());
    j += ",\"connections\":" + std::to_string(metrics::counters().openConnections());

    std::shared_ptr<const ClientSnapshot> clients = sources_.clients ? sources_.clients() : nullptr;
    if (!clients)
        clients = std::make_shared<ClientSnapshot>();
    j += ",\"kairanet\":" + std::to_string(clients->kairanetYhteyksia);
    j += ",\"clients\":[";
    for (std::size_t i = 0; i < clients->rows.size(); ++i) {
        const ClientRow& c = clients->rows[i];
        j += i == 0 ? "{" : ",{";
        j += "\"id\":" + quoted(c.id) + ",\"application\":" + quoted(c.sovellus) +
             ",\"lastSeen\":" + quoted(c.viimeksi) + "}";
    }
    j += "]";

    const EventLog* log = sources_.log ? sources_.log : EventLog::instance();
    const EventLog::NumberedLines lines = log->linesAfter(after, kMaxLinesPerAnswer);
    j += ",\"log\":{\"first\":" + std::to_string(lines.first) + ",\"last\":" + std::to_string(lines.last) +
         ",\"lines\":[";
    for (qsizetype i = 0; i < lines.lines.size(); ++i) {
        if (i > 0)
            j += ',';
        j += quoted(lines.lines[i]);
    }
    j += "]}}";
    return j;
}

}  // namespace krp
