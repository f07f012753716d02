#pragma once
// nginx as the yardstick: started from a temporary configuration, listening on 127.0.0.1 on a
// free port with TLS (the same certificate and key files as the service), HTTP/1.1 keep-alive,
// answering every request 200 with Ping's answer body {"result":null}. Stopped with the object.
#include "ChildProcess.h"
#include "ProcessStats.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace krp::bench {

class NginxServer {
public:
    // `directory` holds test.pem and test.key; the configuration, pid file and error log go
    // into its subdirectory "nginx". Throws with nginx's own message when it does not start.
    NginxServer(const std::string& program, const std::filesystem::path& directory);
    ~NginxServer();

    std::uint16_t port() const { return port_; }
    // CPU time of the master and its workers so far.
    CpuTimes cpuTimes() const;
    long long contextSwitches() const;
    unsigned workers() const;
    // Resident memory of the master and its workers now.
    long rssKiB() const;

private:
    std::filesystem::path directory_;
    std::uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace krp::bench
