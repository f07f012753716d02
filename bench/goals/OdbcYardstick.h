#pragma once
// The yardstick of the ODBC path: the statements the service runs, straight on the ODBC C API
// through the same driver, in this process, each thread on its own connection in auto-commit
// mode, reading every column of every row as text.
#include <chrono>
#include <string>

namespace krp::bench {

// Repeats the search of `code` (phases in order until one finds rows, as MonivaiheinenTuotehaku
// does) on `threads` threads for `duration`. `kept`: each thread prepares the three statements
// once and only executes them afterwards; otherwise every phase allocates, prepares and frees
// its statement. Searches per second.
double runOdbcSearch(const std::string& connectionString, const std::string& code, unsigned threads, bool kept,
                     std::chrono::milliseconds duration);

// Inserts receipt rows (the INSERT of LisaaVarastoontulorivit, prepared once per thread, each
// row committed on its own) on `threads` threads for `duration`; ids start with `idPrefix`.
// Rows per second.
double runOdbcReceiptRows(const std::string& connectionString, const std::string& idPrefix, unsigned threads,
                          std::chrono::milliseconds duration);

}  // namespace krp::bench
