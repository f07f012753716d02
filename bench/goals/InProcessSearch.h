#pragma once
// The yardstick of the search: the statements MonivaiheinenTuotehaku runs, straight on the
// SQLite C API in this process, each thread on its own connection, reading every column of
// every row as text. The connections read the file through the same memory map as the
// service's (db/SqliteFileAccess.h), or, for comparison, with SQLite's default read calls into
// each connection's page cache.
#include <chrono>
#include <filesystem>
#include <string>

namespace krp::bench {

struct InProcessResult {
    double searchesPerSecond = 0;
    unsigned threads = 0;
    bool preparedOnce = true;
    bool memoryMapped = true;
};

// Repeats the search of `code` (phases in order until one finds rows, as the method does) for
// `duration` on `threads` threads. `preparedOnce`: each thread prepares
// the three statements once and resets them between searches; otherwise every search prepares
// and finalizes its statements.
InProcessResult runInProcessSearch(const std::filesystem::path& database, const std::string& code, unsigned threads,
                                   bool preparedOnce, bool memoryMapped, std::chrono::milliseconds duration);

}  // namespace krp::bench
