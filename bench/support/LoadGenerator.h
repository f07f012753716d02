#pragma once
// The benchmark's client side: asynchronous HTTPS (Boost.Beast over OpenSSL) on a few threads,
// many connections per thread, each connection kept alive and used by one client at a time
// (send a request, wait for the whole answer, send the next: a closed loop, no pipelining).
//
//   LoadGenerator generator(1);  // one thread
//   Endpoint server{port, true};
//   PhaseResult r = generator.runCalls(server, pingCall, 64, limits);
//   r.rate(), r.percentileMs(50) ...
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace krp::bench {

struct Endpoint {
    std::uint16_t port = 0;
    // The service: each connection opens its own session (both gates) before its calls and
    // closes it afterwards. Off for a plain HTTPS server (nginx), which gets the same requests
    // with a made-up session id of the same length.
    bool sessions = true;
};

// One request that the clients repeat, and the answer body it must get.
struct Call {
    std::string name;  // for the table
    std::string path;  // e.g. "/api/v1/methods/Ping"
    std::string body;  // e.g. ["Kairanet","bench-1"]; "{i}" is replaced by the client's number,
                       // "{n}" by the number of the call on its connection (0, 1, ...)
    std::string expectedBody;
};

struct Limits {
    std::chrono::milliseconds warmup{1000};     // run, but not counted
    std::chrono::milliseconds duration{5000};   // counted
    std::uint64_t maxOperations = 2'000'000;    // the counted part ends earlier when reached
    std::chrono::milliseconds timeout{10'000};  // per network step
};

struct PhaseResult {
    unsigned concurrency = 0;
    double seconds = 0;            // length of the counted part
    std::uint64_t operations = 0;  // completed within it
    std::uint64_t errors = 0;      // failed connections, unexpected answers
    std::string firstError;
    std::vector<float> latencyUs;    // of the counted operations, sorted
    double generatorCpuSeconds = 0;  // this process, during the counted part

    double rate() const { return seconds > 0 ? static_cast<double>(operations) / seconds : 0; }
    double percentileMs(double p) const;
    double generatorCores() const { return seconds > 0 ? generatorCpuSeconds / seconds : 0; }
};

// Called by the controlling thread right when the counted part starts and when it ends.
struct PhaseHooks {
    std::function<void()> onStart;
    std::function<void()> onEnd;
};

// Sessions left open, each on its own kept-alive connection, until close() or destruction.
class IdleSessions {
public:
    virtual ~IdleSessions() = default;
    virtual std::size_t opened() const = 0;
    virtual std::uint64_t errors() const = 0;
    virtual std::string firstError() const = 0;
    // Closes the client connections; the sessions stay open on the server.
    virtual void closeConnections() = 0;
};

class LoadGenerator {
public:
    explicit LoadGenerator(unsigned threads);
    ~LoadGenerator();
    LoadGenerator(const LoadGenerator&) = delete;
    LoadGenerator& operator=(const LoadGenerator&) = delete;

    unsigned threads() const;

    // `concurrency` connections, each with its own session when the endpoint has sessions,
    // repeat `call` as fast as the answers come.
    PhaseResult runCalls(const Endpoint& endpoint, const Call& call, unsigned concurrency, const Limits& limits,
                         const PhaseHooks& hooks = {});

    // What a session-opening client does with the session it opened.
    enum class AfterOpening {
        Close,  // DELETE /api/v1/session, then the connection's close
        Leave,  // drops the connection and leaves the session open, as a terminal that goes away
    };

    // `concurrency` clients each repeat: a new TCP connection, a full TLS handshake, a session
    // opening through both gates (the operation that is timed and counted), then `after`. For
    // a server without sessions (nginx) the same request, answered 200, and the connection
    // dropped: the cost of its handshake.
    PhaseResult runSessionOpens(const Endpoint& endpoint, unsigned concurrency, const Limits& limits,
                                const PhaseHooks& hooks = {}, AfterOpening after = AfterOpening::Close);

    // Opens `count` sessions, `parallel` at a time; each calls TarkistaKayttooikeus and Ping
    // once, as a terminal does after connecting. With `keepConnections` each session gets its
    // own connection, which stays open; without, the `parallel` clients open their sessions one
    // after the other over one connection each and close it at the end, leaving the sessions
    // without connections (as the server's keep-alive timeout leaves idle clients). For a
    // server without sessions (nginx, or the service's bare connections) each connection makes
    // one GET of an unknown path (answered 404 or 200) instead.
    std::shared_ptr<IdleSessions> openIdleSessions(const Endpoint& endpoint, unsigned count, unsigned parallel,
                                                   bool keepConnections, const Limits& limits);

    // Opens `count` sessions one after the other over one connection, which is then dropped;
    // the sessions stay open (for another client to call in). Their ids; throws when one fails.
    std::vector<std::string> openSessions(std::uint16_t port, unsigned count,
                                          std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Closes the sessions `ids` (DELETE) one after the other over one connection.
    void closeSessions(std::uint16_t port, const std::vector<std::string>& ids,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // One GET over a new connection: the answer's status and body. Throws when it fails.
    std::pair<int, std::string> get(std::uint16_t port, const std::string& path,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(10));

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace krp::bench
