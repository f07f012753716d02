#pragma once
// wrk (Debian's package) as a second load client, to check that the project's own generator
// does not flatter a ratio by spending more of the machine itself: the same POST of a call, on
// kept-alive TLS connections, each request in one of the sessions opened beforehand (the
// threads of wrk turn through their own share of them; a server without sessions gets the
// same requests with a made-up session id).
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace krp::bench {

struct WrkRun {
    std::string program = "/usr/bin/wrk";
    std::uint16_t port = 0;
    std::string path;                   // "/api/v1/methods/Ping"
    std::string body;                   // the call's arguments
    std::vector<std::string> sessions;  // bearer ids; empty: made-up ones
    unsigned connections = 64;
    unsigned threads = 2;
    std::chrono::milliseconds duration{5000};
};

struct WrkResult {
    double rate = 0;  // requests per second
    double p50Ms = 0, p99Ms = 0;
    std::uint64_t requests = 0;
    std::uint64_t errors = 0;  // socket errors and answers other than 2xx/3xx
    std::string errorText;     // wrk's own lines about them
    double clientCores = 0;    // wrk's CPU seconds per second
};

// Runs wrk once with a Lua script written into `scratchDirectory`. Throws when wrk cannot run
// or its output cannot be read.
WrkResult runWrk(const WrkRun& run, const std::string& scratchDirectory);

}  // namespace krp::bench
