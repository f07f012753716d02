#include "WrkLoad.h"

#include "ChildProcess.h"

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <thread>

namespace krp::bench {

namespace {

// The requests are built once per thread; request() hands out the next one, so wrk spends
// nothing in Lua per request beyond a table lookup.
const char* const kScript = R"(-- KRPalvelin's benchmark: a call in the sessions of KRP_WRK_SESSIONS
local sessions = {}
for id in string.gmatch(os.getenv("KRP_WRK_SESSIONS") or "", "[^,]+") do
  table.insert(sessions, id)
end
local threads = 0
local threadCount = tonumber(os.getenv("KRP_WRK_THREADS"))

function setup(thread)
  threads = threads + 1
  local mine = {}
  for i = threads, #sessions, threadCount do
    table.insert(mine, sessions[i])
  end
  thread:set("mine", table.concat(mine, ","))
end

local requests = {}
local n = 0

function init(args)
  local path = os.getenv("KRP_WRK_PATH")
  local body = os.getenv("KRP_WRK_BODY")
  for id in string.gmatch(mine or "", "[^,]+") do
    table.insert(requests, wrk.format("POST", path,
      {["Authorization"] = "Bearer " .. id, ["Content-Type"] = "application/json"}, body))
  end
end

function request()
  n = n % #requests + 1
  return requests[n]
end
)";

double cpuOfReapedChildren()
{
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// "1.23ms", "456.00us", "2.10s" in milliseconds.
double milliseconds(const std::string& number, const std::string& unit)
{
    const double value = std::stod(number);
    if (unit == "us")
        return value / 1000;
    if (unit == "s")
        return value * 1000;
    if (unit == "m")
        return value * 60'000;
    return value;
}

}  // namespace

WrkResult runWrk(const WrkRun& run, const std::string& scratchDirectory)
{
    const std::string script = scratchDirectory + "/krp-wrk.lua";
    std::ofstream(script, std::ios::trunc) << kScript;

    std::string sessions;
    const std::size_t ids = run.sessions.empty() ? run.connections : run.sessions.size();
    for (std::size_t i = 0; i < ids; ++i)
        sessions += (i ? "," : "") + (run.sessions.empty() ? std::string(32, 'x') : run.sessions[i]);
    const unsigned threads = std::max(1u, std::min(run.threads, run.connections));
    const std::vector<std::string> argv{
        "/usr/bin/env",
        "KRP_WRK_SESSIONS=" + sessions,
        "KRP_WRK_THREADS=" + std::to_string(threads),
        "KRP_WRK_PATH=" + run.path,
        "KRP_WRK_BODY=" + run.body,
        run.program,
        "--latency",
        "-t" + std::to_string(threads),
        "-c" + std::to_string(run.connections),
        "-d" + std::to_string(std::max<long long>(1, run.duration.count() / 1000)) + "s",
        "--timeout",
        "10s",
        "-s",
        script,
        "https://127.0.0.1:" + std::to_string(run.port) + run.path};

    const double cpuBefore = cpuOfReapedChildren();
    std::string output;
    {
        ChildProcess wrk(argv, ChildProcess::Stdio::Pipes, SIGKILL);
        const auto deadline = std::chrono::steady_clock::now() + run.duration + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            const auto line = wrk.readLine(std::chrono::seconds(5));
            if (!line) {
                if (wrk.exited())
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            output += *line + "\n";
        }
        const auto status = wrk.stop(SIGKILL, std::chrono::seconds(5));
        if (!status || *status != 0)
            throw std::runtime_error("wrk failed: " + output.substr(0, 400));
    }
    const double cpuUsed = cpuOfReapedChildren() - cpuBefore;

    WrkResult r;
    std::smatch m;
    if (!std::regex_search(output, m, std::regex(R"(Requests/sec:\s+([0-9.]+))")))
        throw std::runtime_error("wrk's output has no rate: " + output.substr(0, 400));
    r.rate = std::stod(m[1]);
    if (std::regex_search(output, m, std::regex(R"((\d+) requests in ([0-9.]+)(ms|s|m))")))
        r.requests = std::stoull(m[1]);
    if (std::regex_search(output, m, std::regex(R"(\n\s+50%\s+([0-9.]+)(us|ms|s|m))")))
        r.p50Ms = milliseconds(m[1], m[2]);
    if (std::regex_search(output, m, std::regex(R"(\n\s+99%\s+([0-9.]+)(us|ms|s|m))")))
        r.p99Ms = milliseconds(m[1], m[2]);
    if (std::regex_search(output, m,
                          std::regex(R"(Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+))"))) {
        r.errors += std::stoull(m[1]) + std::stoull(m[2]) + std::stoull(m[3]) + std::stoull(m[4]);
        r.errorText = m[0];
    }
    if (std::regex_search(output, m, std::regex(R"(Non-2xx or 3xx responses: (\d+))"))) {
        r.errors += std::stoull(m[1]);
        r.errorText += (r.errorText.empty() ? "" : "; ") + m[0].str();
    }
    const double seconds = static_cast<double>(run.duration.count()) / 1000.0;
    r.clientCores = seconds > 0 ? cpuUsed / seconds : 0;
    return r;
}

}  // namespace krp::bench
