#pragma once
// krp-bench's report: the machine, the tables of calls, wrk, openings and memory, and the goals.
#include "EndpointFigures.h"
#include "support/GoalTable.h"

namespace krp::bench {

void printReport(const MachineInfo& machine, const Options& options, const LoadGenerator& generator,
                 const LoadFigures& load, const std::vector<IdleFigure>& idle);

GoalTable endpointGoals(const Options& options, const LoadFigures& load, const std::vector<IdleFigure>& idle,
                        const Calls& calls);

}  // namespace krp::bench
