#pragma once
// The test MariaDB server as a process, for tests that make it fail for real: frozen with
// SIGSTOP, stopped and started again. It is the server of KRP_TEST_ODBC whose data directory
// KRP_TEST_MARIADB_DIR names (scripts/run-tests exports both). Every change is undone by the
// guard's destructor, also when the test fails, so that later tests find the server running.
#include <QString>
#include <sys/types.h>

namespace krp::test {

// True when the server can be controlled: both variables set and its pid file readable.
bool mariaDbServerControllable();
// Why a fault test is skipped when it cannot be.
const char* mariaDbServerSkipMessage();
// The server's process id (0 when unknown).
pid_t mariaDbServerPid();

// The server frozen (SIGSTOP) while the guard lives, or until thaw().
class FrozenMariaDb {
public:
    FrozenMariaDb();
    ~FrozenMariaDb();
    void thaw();
    FrozenMariaDb(const FrozenMariaDb&) = delete;
    FrozenMariaDb& operator=(const FrozenMariaDb&) = delete;

private:
    pid_t pid_ = 0;
};

// The server stopped while the guard lives, or until start().
class StoppedMariaDb {
public:
    StoppedMariaDb();
    ~StoppedMariaDb();
    void start();
    StoppedMariaDb(const StoppedMariaDb&) = delete;
    StoppedMariaDb& operator=(const StoppedMariaDb&) = delete;

private:
    bool stopped_ = false;
};

}  // namespace krp::test
