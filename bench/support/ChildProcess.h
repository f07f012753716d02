#pragma once
// A child process started from the benchmark (the server under test, nginx): started with
// fork and exec, ended when the benchmark ends, even when the benchmark itself dies (the child
// gets `deathSignal` then).
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace krp::bench {

class ChildProcess {
public:
    enum class Stdio { Pipes, Null };  // Pipes: talk over stdin/stdout; stderr is inherited

    ChildProcess(const std::vector<std::string>& argv, Stdio stdio, int deathSignal);
    ~ChildProcess();  // stops it: `stopSignal`, then SIGKILL after a grace period
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    void writeLine(const std::string& line);
    // The next line of the child's output without its line break; nothing when the child
    // closed its output or the time ran out.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);

    // Whether the child has ended (it is then reaped).
    bool exited();

    // Asks the child to stop with `signal` (or by closing its input when 0) and waits up to
    // `grace` for it, then kills it. Returns its exit status when it exited by itself (also
    // when it had already ended).
    std::optional<int> stop(int signal, std::chrono::milliseconds grace);

private:
    pid_t pid_ = -1;
    int in_ = -1;   // child's stdin
    int out_ = -1;  // child's stdout
    std::string pending_;
    bool reaped_ = false;
    std::optional<int> exitStatus_;  // once reaped, when it exited by itself
};

}  // namespace krp::bench
