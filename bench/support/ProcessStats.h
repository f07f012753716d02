#pragma once
// What /proc tells about a process and the machine: resident memory, CPU time, the machine's
// model, cores, memory and load.
#include <sys/types.h>

#include <string>
#include <vector>

namespace krp::bench {

struct MemoryUse {
    long rssKiB = 0;   // VmRSS: resident now
    long peakKiB = 0;  // VmHWM: the highest resident size so far
};
MemoryUse memoryOf(pid_t pid);

// CPU seconds the process has used so far (all its threads), in user space and in the kernel.
struct CpuTimes {
    double user = 0;
    double system = 0;
    double total() const { return user + system; }
};
CpuTimes cpuTimesOf(pid_t pid);
// The same for the calling process.
double ownCpuSeconds();

// Context switches of all the process's threads so far (voluntary and forced).
long long contextSwitchesOf(pid_t pid);

// The processes whose parent is `pid` (nginx's workers).
std::vector<pid_t> childrenOf(pid_t pid);

struct MachineInfo {
    unsigned cores = 0;       // online CPUs
    std::string cpuModel;     // /proc/cpuinfo "model name"
    double memoryGiB = 0;     // MemTotal
    std::string kernel;       // uname -sr
    std::string loadAverage;  // /proc/loadavg, the three averages
    std::string date;         // local date and time, ISO form
};
MachineInfo machineInfo();
std::string loadAverage();

}  // namespace krp::bench
