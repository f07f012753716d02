#include "Goals.h"

#include "platform/core/ProcessResources.h"

namespace krp::bench {

GoalsRun::GoalsRun(const GoalsOptions& options, const std::string& prefix) : machine(machineInfo()), dir(prefix)
{
    krp::platform::raiseOpenFileLimit();
    startWatchdog("krp-goals", options.timeLimit);
    writeSelfSignedCertificate(dir.path());
}

ProgramUnderTest::Settings programOn(const std::string& program, const std::filesystem::path& dir,
                                     const std::string& database)
{
    ProgramUnderTest::Settings s;
    s.program = program;
    s.directory = dir;
    s.database = database;
    return s;
}

Limits callLimits(const GoalsOptions& options)
{
    Limits limits;
    limits.duration = options.duration;
    limits.warmup = options.warmup;
    return limits;
}

}  // namespace krp::bench
