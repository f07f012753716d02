#include "ProcessStats.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <sstream>

namespace krp::bench {

namespace {

long statusValue(const std::string& text, const std::string& key)
{
    const auto at = text.find("\n" + key + ":");
    if (at == std::string::npos)
        return 0;
    return std::strtol(text.c_str() + at + key.size() + 2, nullptr, 10);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The text of a /proc file after a line break, so that every key can be found as "\nKey:".
std::string statusText(const std::string& path)
{
    std::string text(1, '\n');
    text += readFile(path);
    return text;
}

// The fields of /proc/PID/stat after the command name (field 3 onwards).
std::vector<std::string> statFields(pid_t pid)
{
    const std::string text = readFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = text.rfind(')');
    std::vector<std::string> fields;
    if (close == std::string::npos)
        return fields;
    std::istringstream rest(text.substr(close + 1));
    std::string field;
    while (rest >> field)
        fields.push_back(field);
    return fields;
}

}  // namespace

MemoryUse memoryOf(pid_t pid)
{
    const std::string text = statusText("/proc/" + std::to_string(pid) + "/status");
    return {statusValue(text, "VmRSS"), statusValue(text, "VmHWM")};
}

CpuTimes cpuTimesOf(pid_t pid)
{
    const auto fields = statFields(pid);
    if (fields.size() < 13)
        return {};
    // utime and stime are fields 14 and 15 of the whole line, in clock ticks.
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    return {std::stod(fields[11]) / tick, std::stod(fields[12]) / tick};
}

double ownCpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(u.ru_utime) + seconds(u.ru_stime);
}

long long contextSwitchesOf(pid_t pid)
{
    long long total = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(tasks.c_str());
    if (!dir)
        return 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string text = statusText(tasks + "/" + entry->d_name + "/status");
        total += statusValue(text, "voluntary_ctxt_switches") + statusValue(text, "nonvoluntary_ctxt_switches");
    }
    ::closedir(dir);
    return total;
}

std::vector<pid_t> childrenOf(pid_t pid)
{
    std::vector<pid_t> children;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return children;
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long candidate = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || candidate <= 0)
            continue;
        const auto fields = statFields(static_cast<pid_t>(candidate));
        if (fields.size() > 1 && std::stol(fields[1]) == pid)
            children.push_back(static_cast<pid_t>(candidate));
    }
    ::closedir(proc);
    return children;
}

std::string loadAverage()
{
    std::istringstream in(readFile("/proc/loadavg"));
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

MachineInfo machineInfo()
{
    MachineInfo m;
    m.cores = static_cast<unsigned>(::sysconf(_SC_NPROCESSORS_ONLN));
    std::istringstream cpuinfo(readFile("/proc/cpuinfo"));
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.rfind("model name", 0) == 0) {
            const auto colon = line.find(':');
            m.cpuModel = colon == std::string::npos ? line : line.substr(colon + 2);
            break;
        }
    }
    const std::string meminfo = statusText("/proc/meminfo");
    m.memoryGiB = static_cast<double>(statusValue(meminfo, "MemTotal")) / (1024.0 * 1024.0);
    utsname u{};
    if (::uname(&u) == 0)
        m.kernel = std::string(u.sysname) + " " + u.release;
    m.loadAverage = loadAverage();
    const std::time_t now = std::time(nullptr);
    char date[64];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S %Z", std::localtime(&now));
    m.date = date;
    return m;
}

}  // namespace krp::bench
