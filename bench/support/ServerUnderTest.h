#pragma once
// The parent's handle on the benchmark server process ("krp-bench serve DIR").
#include "ChildProcess.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace krp::bench {

class ServerUnderTest {
public:
    // Starts the process and waits until it listens. Throws with the server's message.
    // `workerThreads` 0: the container's default.
    ServerUnderTest(const std::filesystem::path& directory, std::size_t maxConnections, unsigned workerThreads);
    ~ServerUnderTest();  // stops it

    std::uint16_t port() const { return port_; }
    pid_t pid() const { return process_->pid(); }

    // The server's own view once its main thread has run everything handed to it so far:
    // "log" (event-log lines), "clients" (registry entries), "pending" (registry work not yet
    // run), "sessions" (open sessions).
    std::map<std::string, long> status();

private:
    std::unique_ptr<ChildProcess> process_;
    std::uint16_t port_ = 0;
};

}  // namespace krp::bench
