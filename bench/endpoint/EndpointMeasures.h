#pragma once
// krp-bench's phases: the load on one program (the generator's calls and openings, wrk's Ping,
// nginx beside it), and idle sessions on fresh programs.
#include "EndpointFigures.h"

#include <filesystem>

namespace krp::bench {

LoadFigures measureLoad(const Options& options, const std::filesystem::path& dir, LoadGenerator& generator,
                        const Limits& limits, const Calls& calls);

std::vector<IdleFigure> measureIdleSessions(const Options& options, const std::filesystem::path& dir,
                                            LoadGenerator& generator, const Limits& limits);

}  // namespace krp::bench
