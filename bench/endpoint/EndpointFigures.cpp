#include "EndpointFigures.h"

#include "support/BenchSetup.h"
#include "support/ReportText.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace krp::bench {

double mib(long kib)
{
    return static_cast<double>(kib) / 1024.0;
}

ServerShare shareOf(const ServerWindow& w, const PhaseResult& r)
{
    ServerShare s;
    if (r.seconds > 0)
        s.cores = w.cpuUsed.total() / r.seconds;
    if (r.operations > 0) {
        const double ops = static_cast<double>(r.operations);
        s.userUsPerOp = w.cpuUsed.user * 1e6 / ops;
        s.systemUsPerOp = w.cpuUsed.system * 1e6 / ops;
        s.switchesPerOp = static_cast<double>(w.switchesUsed) / ops;
    }
    return s;
}

std::string cpuPerOp(const ServerShare& s, int decimals)
{
    return fixed(s.usPerOp(), decimals) + " (" + fixed(s.userUsPerOp, decimals) + " + " +
           fixed(s.systemUsPerOp, decimals) + ")";
}

// Of repeated runs of one phase: the run with the median rate, with the spread of the rates.
std::vector<CallRow> medianRuns(const std::vector<CallRow>& runs)
{
    std::vector<CallRow> chosen;
    std::vector<bool> done(runs.size(), false);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (done[i])
            continue;
        std::vector<const CallRow*> same;
        for (std::size_t j = i; j < runs.size(); ++j) {
            if (!done[j] && runs[j].server == runs[i].server && runs[j].call == runs[i].call &&
                runs[j].result.concurrency == runs[i].result.concurrency) {
                same.push_back(&runs[j]);
                done[j] = true;
            }
        }
        std::sort(same.begin(), same.end(),
                  [](const CallRow* a, const CallRow* b) { return a->result.rate() < b->result.rate(); });
        CallRow row = *same[same.size() / 2];
        row.minRate = same.front()->result.rate();
        row.maxRate = same.back()->result.rate();
        chosen.push_back(std::move(row));
    }
    return chosen;
}

void progress(const std::string& text)
{
    std::fprintf(stderr, "krp-bench: %s\n", text.c_str());
}

std::string errorsText(const PhaseResult& r)
{
    return r.errors == 0 ? "0" : std::to_string(r.errors) + " (" + r.firstError + ")";
}

// A goal's fault: "" without errors.
std::string errorsFault(const PhaseResult& r)
{
    return r.errors == 0 ? "" : std::to_string(r.errors) + " errors (" + r.firstError + ")";
}

// The fault of a goal measured on two phases: the first one's errors, else the second's.
std::string errorsFault(const PhaseResult& a, const PhaseResult& b)
{
    return a.errors != 0 ? errorsFault(a) : errorsFault(b);
}

std::vector<WrkRow> medianWrkRuns(const std::vector<WrkRow>& runs)
{
    std::map<std::pair<std::string, unsigned>, std::vector<WrkRow>> groups;
    for (const auto& r : runs)
        groups[{r.server, r.concurrency}].push_back(r);
    std::vector<WrkRow> chosen;
    for (auto& [key, same] : groups) {
        std::sort(same.begin(), same.end(),
                  [](const WrkRow& a, const WrkRow& b) { return a.result.rate < b.result.rate; });
        WrkRow row = same[same.size() / 2];
        row.minRate = same.front().result.rate;
        row.maxRate = same.back().result.rate;
        chosen.push_back(std::move(row));
    }
    return chosen;
}

const CallRow* findRow(const std::vector<CallRow>& rows, const std::string& server, const std::string& call,
                       unsigned concurrency)
{
    for (const auto& row : rows)
        if (row.server == server && row.call == call && row.result.concurrency == concurrency)
            return &row;
    return nullptr;
}

const WrkRow* findWrkRow(const std::vector<WrkRow>& rows, const std::string& server, unsigned concurrency)
{
    for (const auto& row : rows)
        if (row.server == server && row.concurrency == concurrency)
            return &row;
    return nullptr;
}

Calls benchCalls()
{
    return {{"Ping", "/api/v1/methods/Ping", "[\"Kairanet\",\"bench-{i}\"]", "{\"result\":null}"},
            {"TarkistaKayttooikeus", "/api/v1/methods/TarkistaKayttooikeus",
             std::string("[\"avain\",\"") + BenchAccount::user + "\",\"" + BenchAccount::password + "\"]",
             "{\"result\":true}"}};
}

}  // namespace krp::bench
