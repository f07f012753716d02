#pragma once
// A plain blocking HTTPS client for the measures that need one client at a time: session
// openings over new connections (the service and nginx alike) and connections held open for
// the memory figure. Every connection makes a full TLS handshake; nothing is resumed.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace krp::bench {

class TlsClient {
public:
    TlsClient();
    ~TlsClient();

    class Connection;
    // TCP connection to 127.0.0.1:port and a full TLS handshake.
    std::unique_ptr<Connection> connect(std::uint16_t port);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

class TlsClient::Connection {
public:
    ~Connection();
    // Sends a request and reads the whole answer; the status, the body in `body`.
    int exchange(const std::string& method, const std::string& path, const std::string& authorization,
                 const std::string& body, std::string* answer = nullptr);
    // Opens a session through both gates with the benchmark's account; the session id.
    std::string openSession();
    // TarkistaKayttooikeus and Ping, as a terminal calls them after connecting.
    void checkAndPing(const std::string& session, const std::string& clientId);

    struct Impl;
    explicit Connection(std::unique_ptr<Impl> impl);

private:
    std::unique_ptr<Impl> impl_;
};

// Openings by one client, one after the other: a new connection, a full handshake, the
// session's opening (`withSession`; otherwise the same request to a server without sessions,
// which answers it 200), then the connection dropped. Runs for `duration` or `maxOpenings`.
struct OpeningsResult {
    std::uint64_t openings = 0;
    std::uint64_t errors = 0;
    std::string firstError;
    double seconds = 0;
    std::vector<float> latencyUs;  // sorted
    double rate() const { return seconds > 0 ? static_cast<double>(openings) / seconds : 0; }
    double percentileMs(double p) const;
};
OpeningsResult runOpenings(std::uint16_t port, bool withSession, std::chrono::milliseconds duration,
                           std::uint64_t maxOpenings);

}  // namespace krp::bench
