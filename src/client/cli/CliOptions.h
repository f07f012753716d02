#pragma once
// The command line of krpalvelin-cli: options (each also settable by an environment
// variable), the command and its steps.
#include "client/KrpClient.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace krp::cli {

// One thing to do in a session.
struct Step {
    enum class Kind { Call, Provider, Close };
    Kind kind = Kind::Call;
    std::string name;       // method or provider
    std::string arguments;  // JSON array text of a call
    int line = 0;           // script line, 0 on the command line
};

struct CliOptions {
    enum class Command { Help, Version, Session, Steps };

    Command command = Command::Help;
    std::vector<Step> steps;  // Command::Steps: call, provider, close, or a script's lines
    std::string scriptFile;   // the script's file name ("-": standard input), to read later

    client::KrpClientOptions client;
    client::ConnectProperties connect;
    std::string session;  // --session / KRP_SESSION
    bool pretty = false;
    bool verbose = false;
};

// Reads a variable of the environment; nothing when unset.
using Environment = std::function<std::optional<std::string>(const char* name)>;
Environment processEnvironment();

// A command line that cannot be run; the message says why.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// `args` without the program name. Throws UsageError.
CliOptions parseCommandLine(const std::vector<std::string>& args, const Environment& env);

// The steps of a script text. Throws UsageError naming the line.
std::vector<Step> parseScript(const std::string& text);

std::string helpText();

}  // namespace krp::cli
