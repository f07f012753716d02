#pragma once
// The two runs of krp-goals; each prints its report and returns the exit status of its goals
// (0 every goal met, 1 otherwise).
#include "GoalsOptions.h"
#include "support/ProgramUnderTest.h"

#include <filesystem>
#include <string>

namespace krp::bench {

// The program on the SQLite file of the search database, against the statements in process
// and nginx.
int runSqliteGoals(const GoalsOptions& options);
// The program on MariaDB over ODBC against the same statements run in this process through the
// same driver.
int runOdbcGoals(const GoalsOptions& options);

// The program on "sqlite:erp.sqlite" in `dir`.
ProgramUnderTest::Settings programOnSqlite(const std::string& program, const std::filesystem::path& dir);

// db/ of the source tree: the schema and demo data the search database is built from.
inline std::filesystem::path sqlDirectory() { return std::filesystem::path(KRP_SOURCE_DIR) / "db"; }

}  // namespace krp::bench
