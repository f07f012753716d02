#pragma once
// The operator console: a read-only web page showing what the window shows, for a server that
// runs without one (systemd). Its paths:
//
//   GET /console                 the page
//   GET /console/console.css     its style
//   GET /console/console.js      its script (polls the state twice a second)
//   GET /console/console.svg     its icon
//   GET /console/state?since=N   the state as JSON, with the event-log lines numbered above N
//
// Only the addresses listed in the settings may read any of them (403 for every other, other
// loopback addresses included). The answers never hold a password, an access code or a session
// id: the database is shown as ConnectionSettings::describe() gives it, the registry and the
// log as they are. Everything is answered on the calling (I/O) thread: it reads copies under
// short locks and never waits for the main thread or the database.
#include "methods/ServiceContext.h"
#include "server/operations/ClientSnapshot.h"
#include "server/session/SessionManager.h"
#include "server/transport/HttpMessage.h"

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

namespace krp {

class EventLog;

// What the console reads from the rest of the server. Any member may be null.
struct ConsoleSources {
    // The client registry's latest copy; none: no clients.
    ClientSnapshotSource clients;
    // The event log to read; null: EventLog::instance().
    const EventLog* log = nullptr;
};

class ConsoleEndpoint {
public:
    // Lines one state answer carries at most (the newest of those asked for).
    static constexpr int kMaxLinesPerAnswer = 500;

    ConsoleEndpoint(session::SessionManager& sessions, ServiceContext& service);

    void setSources(ConsoleSources sources) { sources_ = sources; }
    // The addresses that may read the console ("127.0.0.1", "::1", ...); nobody when empty.
    void setReaders(std::vector<std::string> addresses) { readers_ = std::move(addresses); }
    // The service listens on `port` from now on (its uptime starts).
    void serving(int port);

    static bool isConsolePath(const transport::HttpRequest& request);

    // The answer to a request for one of the paths above. `stopping`: the service is stopping.
    transport::HttpResponse handle(const transport::HttpRequest& request, bool stopping) const;

private:
    bool mayRead(const std::string& address) const;
    std::string stateJson(long long after, bool stopping) const;

    session::SessionManager& sessions_;
    ServiceContext& service_;
    ConsoleSources sources_;
    std::vector<std::string> readers_;
    std::atomic<int> port_{0};
    std::atomic<std::chrono::steady_clock::rep> startedAt_{0};
};

// The settings' default list of console readers.
inline constexpr const char* kDefaultConsoleReaders = "127.0.0.1 ::1";

}  // namespace krp
