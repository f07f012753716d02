#pragma once
// The server side of the benchmark, run as a child process of krp-bench ("krp-bench serve DIR"):
// the server container TServerContainer1 as the program runs it, with a Qt main thread that
// takes the event log's lines and the client registry's work, on the SQLite database and the
// certificate files in DIR, listening on 127.0.0.1.
//
// Talks to its parent over standard input and output, one line at a time:
//   out  "listening PORT"              once, when the service has started
//   in   "status"                      out "status log=N clients=N pending=N sessions=N",
//                                      answered by the main thread after everything handed
//                                      to it before
//   in   "quit" or end of input        stops the service and ends the process
#include <cstddef>
#include <filesystem>

namespace krp::bench {

struct BenchServerOptions {
    std::filesystem::path directory;  // erp.sqlite, test.pem, test.key
    std::size_t maxConnections = 512;
    unsigned workerThreads = 0;  // 0: the container's default
};

int runBenchServer(int argc, char** argv, const BenchServerOptions& options);

// "`program` serve DIR [--max-connections N] [--workers N]": runBenchServer with those options.
int runBenchServerCommand(const char* program, int argc, char** argv);

}  // namespace krp::bench
