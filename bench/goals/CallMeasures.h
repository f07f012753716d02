#pragma once
// The measures krp-goals takes of a running server: calls at a number of sessions, session
// openings by one client, resident memory per idle connection; each with the server's CPU.
#include "support/LoadGenerator.h"
#include "support/ProcessStats.h"
#include "support/SearchDatabase.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace krp::bench {

// CPU time and context switches of a server over a stretch of time.
struct Usage {
    CpuTimes cpu;
    long long switches = 0;
};
Usage operator-(const Usage& a, const Usage& b);
// The usage of process `pid` so far.
Usage usageOf(pid_t pid);

// What every timed phase gives: its rate, latencies, errors, and the server's CPU (user, kernel,
// both) and context switches per operation; the range of the runs' rates once a median is taken.
struct PhaseRow {
    double rate = 0, p50 = 0, p99 = 0;
    std::uint64_t errors = 0;
    std::string firstError;
    double usPerOp = 0, userUs = 0, systemUs = 0, switchesPerOp = 0;
    double minRate = 0, maxRate = 0;
};

struct CallRow : PhaseRow {
    std::string call;
    unsigned sessions = 0;
    double cores = 0, generatorCores = 0;
    double databaseUsPerCall = 0;  // the database server's CPU (ODBC runs)
};

// One phase of `call` at `sessions` sessions, with the server's CPU and context switches
// (`usage`) and, when given, the database server's CPU seconds (`databaseCpu`) per call.
CallRow measureCalls(LoadGenerator& generator, std::uint16_t port, const Call& call, unsigned sessions,
                     const Limits& limits, const std::function<Usage()>& usage,
                     const std::function<double()>& databaseCpu = {});

struct OpenRow : PhaseRow {
    std::string server;
};

// Openings by one client over new connections for `duration`: the service's sessions
// (`withSession`, left open as a terminal leaves them) or the same request to nginx.
OpenRow measureOpenings(LoadGenerator& generator, const std::string& server, std::uint16_t port, bool withSession,
                        const std::function<Usage()>& usage, std::chrono::milliseconds duration);

// Resident memory of a server before and after `count` connections were opened and left idle.
struct IdleRow {
    std::string what;
    unsigned connections = 0;
    long beforeKiB = 0, afterKiB = 0;
    std::string errors = "0";
    double perConnectionKiB() const
    {
        return connections ? static_cast<double>(afterKiB - beforeKiB) / connections : 0;
    }
};

// Each connection makes one request: `withSession` opens a session and calls
// TarkistaKayttooikeus and Ping in it; otherwise a GET that needs no session.
IdleRow measureIdle(LoadGenerator& generator, const std::string& what, std::uint16_t port, bool withSession,
                    const std::function<long()>& rss, unsigned count);

// The run with the median rate, with the range of all runs' rates.
template <class Row>
Row medianOf(std::vector<Row> runs)
{
    std::sort(runs.begin(), runs.end(), [](const Row& a, const Row& b) { return a.rate < b.rate; });
    Row row = runs[runs.size() / 2];
    row.minRate = runs.front().rate;
    row.maxRate = runs.back().rate;
    return row;
}

// Ping and the two searches, as the terminals call them.
struct SearchCalls {
    Call ping, ean, type;
};
SearchCalls searchCalls(const SearchCodes& codes);

// Which columns a table of calls adds to the common ones.
enum class CallColumns {
    LoadClient,      // the server's cores and the generator's (SQLite runs)
    DatabaseServer,  // the database server's CPU per call (ODBC runs)
};
// "## TITLE" and the calls as a Markdown table.
void printCallTable(const std::string& title, const std::map<std::pair<std::string, unsigned>, CallRow>& calls,
                    CallColumns columns);

std::string errorsText(std::uint64_t errors, const std::string& first);
// "" when there were none, "N errors (first)" otherwise: a goal's fault.
std::string errorsFault(std::uint64_t errors, const std::string& first);

// The machine section of the report.
void printMachine(const MachineInfo& machine);
// A line of progress on standard error, with the machine's load.
void progress(const std::string& text);

}  // namespace krp::bench
