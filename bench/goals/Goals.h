#pragma once
// The two runs of krp-goals; each prints its report and returns the exit status of its goals
// (0 every goal met, 1 otherwise).
#include "GoalsOptions.h"
#include "support/BenchSetup.h"
#include "support/LoadGenerator.h"
#include "support/ProcessStats.h"
#include "support/ProgramUnderTest.h"

#include <chrono>

#include <filesystem>
#include <string>

namespace krp::bench {

// The program on the SQLite file of the search database, against the statements in process
// and nginx.
int runSqliteGoals(const GoalsOptions& options);
// The program on MariaDB over ODBC against the same statements run in this process through the
// same driver.
int runOdbcGoals(const GoalsOptions& options);

// What both runs start with: the open-file limit raised, the watchdog started, the machine's
// figures taken and a fresh directory holding the certificate.
struct GoalsRun {
    GoalsRun(const GoalsOptions& options, const std::string& prefix);
    MachineInfo machine;
    TempDirectory dir;
};

// `build()`'s result, with the seconds it took in `seconds`.
template <class Build>
auto timed(double& seconds, Build build)
{
    const auto start = std::chrono::steady_clock::now();
    auto result = build();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

// The program in `dir` on `database` ("sqlite:erp.sqlite", "odbc:...").
ProgramUnderTest::Settings programOn(const std::string& program, const std::filesystem::path& dir,
                                     const std::string& database);
// The counted and uncounted time of a call phase.
Limits callLimits(const GoalsOptions& options);

// db/ of the source tree: the schema and demo data the search database is built from.
inline std::filesystem::path sqlDirectory()
{
    return std::filesystem::path(KRP_SOURCE_DIR) / "db";
}

}  // namespace krp::bench
