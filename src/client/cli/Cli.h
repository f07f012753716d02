#pragma once
// krpalvelin-cli as a function: parses the command line, runs it against the server and
// writes answers to `out`, errors and --verbose reports to `err`. Returns the exit status.
#include "client/cli/CliOptions.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace krp::cli {

// kExitOutcomeUnknown: the server said a repeated call was started before and its outcome is
// unknown; nothing was run again and the steps after it were not run.
enum ExitStatus { kExitOk = 0, kExitErrorAnswer = 1, kExitUsage = 2, kExitNoAnswer = 3, kExitOutcomeUnknown = 4 };

int runCli(const std::vector<std::string>& args, const Environment& env, std::istream& in, std::ostream& out,
           std::ostream& err);

}  // namespace krp::cli
