#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace krp::bench {

namespace {

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, Stdio stdio, int deathSignal)
{
    if (argv.empty())
        throw std::invalid_argument("ChildProcess: no program");
    int toChild[2] = {-1, -1};
    int fromChild[2] = {-1, -1};
    if (stdio == Stdio::Pipes && (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0))
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));

    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t parent = ::getpid();

    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid_ == 0) {
        // Only async-signal-safe calls from here to exec.
        ::prctl(PR_SET_PDEATHSIG, deathSignal);
        if (::getppid() != parent)
            ::_exit(127);
        if (stdio == Stdio::Pipes) {
            ::dup2(toChild[0], STDIN_FILENO);
            ::dup2(fromChild[1], STDOUT_FILENO);
        } else {
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
        }
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    if (stdio == Stdio::Pipes) {
        ::close(toChild[0]);
        ::close(fromChild[1]);
        in_ = toChild[1];
        out_ = fromChild[0];
    }
}

ChildProcess::~ChildProcess()
{
    stop(SIGTERM, std::chrono::seconds(5));
    closeFd(in_);
    closeFd(out_);
}

void ChildProcess::writeLine(const std::string& line)
{
    const std::string text = line + "\n";
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(in_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error("the server process does not take commands any more");
        done += static_cast<std::size_t>(n);
    }
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout)
{
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto nl = pending_.find('\n');
        if (nl != std::string::npos) {
            std::string line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || out_ < 0)
            return std::nullopt;
        pollfd p{out_, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return std::nullopt;
        char buffer[4096];
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

bool ChildProcess::exited()
{
    if (reaped_ || pid_ <= 0)
        return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        if (WIFEXITED(status))
            exitStatus_ = WEXITSTATUS(status);
    }
    return reaped_;
}

std::optional<int> ChildProcess::stop(int signal, std::chrono::milliseconds grace)
{
    if (reaped_ || pid_ <= 0)
        return exitStatus_;
    if (signal == 0)
        closeFd(in_);
    else
        ::kill(pid_, signal);
    const auto until = std::chrono::steady_clock::now() + grace;
    int status = 0;
    while (std::chrono::steady_clock::now() < until) {
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            reaped_ = true;
            return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    reaped_ = true;
    return std::nullopt;
}

}  // namespace krp::bench
