#pragma once
// krp-fault-bench matrix: terminals write with keys while the server and its MariaDB server
// fail in each way in turn; checks every answer against what the database holds.
// krp-fault-bench keycost: keyed and unkeyed writes side by side.
#include <string>
#include <vector>

namespace krp::bench {

// `args` without the mode's name; returns the exit status (1 when a promise was broken).
int runFaultMatrix(const std::vector<std::string>& args);
int runKeyCost(const std::vector<std::string>& args);

}  // namespace krp::bench
