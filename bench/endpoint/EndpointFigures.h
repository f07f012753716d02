#pragma once
// What krp-bench measures and how a phase's figures are kept: the server's share of a phase,
// the rows of the call, wrk and memory tables, the calls themselves.
#include "EndpointOptions.h"
#include "support/LoadGenerator.h"
#include "support/ProcessStats.h"
#include "support/ServerMetrics.h"
#include "support/WrkLoad.h"

#include <functional>
#include <string>
#include <vector>

namespace krp::bench {

// Clients that open the idle sessions side by side.
constexpr unsigned kIdleOpeners = 16;

double mib(long kib);

// What a server process used during a phase's counted part: CPU time and context switches.
struct ServerWindow {
    std::function<CpuTimes()> cpu;
    std::function<long long()> switches;
    CpuTimes cpuStart{};
    CpuTimes cpuUsed{};
    long long switchesStart = 0;
    long long switchesUsed = 0;
    PhaseHooks hooks()
    {
        return {[this] {
                    cpuStart = cpu();
                    switchesStart = switches();
                },
                [this] {
                    const CpuTimes now = cpu();
                    cpuUsed = {now.user - cpuStart.user, now.system - cpuStart.system};
                    switchesUsed = switches() - switchesStart;
                }};
    }
};

// A phase's result with the server's share.
struct ServerShare {
    double cores = 0;          // CPU seconds per second
    double userUsPerOp = 0;    // CPU microseconds per operation, in user space
    double systemUsPerOp = 0;  // and in the kernel
    double switchesPerOp = 0;  // context switches per operation
    double usPerOp() const { return userUsPerOp + systemUsPerOp; }
};

ServerShare shareOf(const ServerWindow& w, const PhaseResult& r);

std::string cpuPerOp(const ServerShare& s, int decimals);

struct CallRow {
    std::string server;
    std::string call;
    PhaseResult result;
    ServerShare share;
    double minRate = 0;  // over the repeated runs
    double maxRate = 0;
};

// Of repeated runs of one phase: the run with the median rate, with the spread of the rates.
std::vector<CallRow> medianRuns(const std::vector<CallRow>& runs);

void progress(const std::string& text);

std::string errorsText(const PhaseResult& r);

// A goal's fault: "" without errors.
std::string errorsFault(const PhaseResult& r);

// The fault of a goal measured on two phases: the first one's errors, else the second's.
std::string errorsFault(const PhaseResult& a, const PhaseResult& b);

// Memory of a fresh server process before and after idle sessions were opened.
struct IdleFigure {
    bool keepConnections = true;
    MemoryUse started;
    MemoryUse held;
    std::size_t opened = 0;
    std::string errors = "0";
    ServerMetrics metrics;
};

// A phase driven by wrk instead of the generator.
struct WrkRow {
    std::string server;
    unsigned concurrency = 0;
    WrkResult result;
    ServerShare share;
    double minRate = 0, maxRate = 0;
};

std::vector<WrkRow> medianWrkRuns(const std::vector<WrkRow>& runs);

const CallRow* findRow(const std::vector<CallRow>& rows, const std::string& server, const std::string& call,
                       unsigned concurrency);

const WrkRow* findWrkRow(const std::vector<WrkRow>& rows, const std::string& server, unsigned concurrency);

struct Calls {
    Call ping, check;
};

Calls benchCalls();

// What the load phases measured.
struct LoadFigures {
    std::vector<CallRow> calls;  // the median runs
    std::vector<CallRow> opens;
    std::vector<WrkRow> wrk;
    std::string nginxNote;
    std::string wrkNote;
    ServerMetrics afterLoad;
};

}  // namespace krp::bench
