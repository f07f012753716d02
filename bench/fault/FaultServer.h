#pragma once
// The real krpalvelin of the fault benchmarks, headless in a directory of its own on a MariaDB
// server of the caller's, with its journal of keyed calls beside its settings; and that
// MariaDB server, killed, frozen and restarted for real.
#include "support/BenchSetup.h"
#include "support/ProgramUnderTest.h"
#include "client/KrpClient.h"
#include "db/ConnectionSettings.h"

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>

namespace krp::bench {

struct FaultSetup {
    std::string program;     // krpalvelin
    std::string mariaDbDir;  // the data directory scripts/start-mariadb made
    std::string odbc;        // its connection string (KRP_TEST_ODBC)
    int port = 15823;
    int statementLimit = 2;  // all three database limits, seconds
};

class FaultServer {
public:
    explicit FaultServer(FaultSetup setup);
    ~FaultServer();

    // Starts the program (again); the first start waits until it listens and throws when it
    // does not within 30 s.
    void start();
    // Stops it with `signal` (SIGKILL: at once; SIGTERM: the orderly stop, up to 60 s).
    void stop(int signal);
    // Waits until a session opens (up to `limit`); false when it did not.
    bool waitUntilServing(std::chrono::seconds limit);

    client::KrpClientOptions clientOptions() const;
    const FaultSetup& setup() const { return setup_; }
    const std::filesystem::path& directory() const { return dir_.path(); }

private:
    FaultSetup setup_;
    TempDirectory dir_;
    std::unique_ptr<ProgramUnderTest> program_;
};

// The account the terminals use (a demo ERP user).
client::ConnectProperties faultAccount();

// The server started and serving; nothing (after saying so on standard error) when it did not
// serve within a minute.
std::unique_ptr<FaultServer> servingServer(const FaultSetup& setup);

// The setup's MariaDB database as the benchmark itself reads it.
db::ConnectionSettings odbcSettings(const FaultSetup& setup);

// The MariaDB server of the setup.
pid_t mariaDbPid(const FaultSetup& setup);
// Kills every other connection to the setup's database; how many.
int killDatabaseConnections(const FaultSetup& setup);
void stopMariaDb(const FaultSetup& setup);
void startMariaDb(const FaultSetup& setup);

}  // namespace krp::bench
