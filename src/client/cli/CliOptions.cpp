#include "client/cli/CliOptions.h"

#include <cstdlib>
#include <sstream>

namespace krp::cli {

namespace {

struct ValueOption {
    const char* name;  // "--host"
    const char* env;   // "KRP_HOST"
    std::function<void(CliOptions&, const std::string&)> set;
};

int parseNumber(const std::string& text, const char* what, int low, int high)
{
    std::size_t used = 0;
    long value = 0;
    try {
        value = std::stol(text, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || used != text.size() || value < low || value > high)
        throw UsageError(std::string(what) + " must be a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not \"" + text + "\".");
    return static_cast<int>(value);
}

bool truthy(const std::string& text)
{
    return !text.empty() && text != "0" && text != "no" && text != "false";
}

const std::vector<ValueOption>& valueOptions()
{
    static const std::vector<ValueOption> options = {
        {"--host", "KRP_HOST", [](CliOptions& o, const std::string& v) { o.client.transport.host = v; }},
        {"--port", "KRP_PORT",
         [](CliOptions& o, const std::string& v) {
             o.client.transport.port = static_cast<std::uint16_t>(parseNumber(v, "The port", 1, 65535));
         }},
        {"--ca", "KRP_CA",
         [](CliOptions& o, const std::string& v) {
             o.client.transport.caFile = v;
             o.client.transport.verifyPeer = true;
         }},
        {"--timeout", "KRP_TIMEOUT",
         [](CliOptions& o, const std::string& v) {
             o.client.transport.timeout = std::chrono::seconds(parseNumber(v, "The timeout", 1, 86400));
         }},
        {"--user", "KRP_USER", [](CliOptions& o, const std::string& v) { o.client.user = v; }},
        {"--password", "KRP_PASSWORD", [](CliOptions& o, const std::string& v) { o.client.password = v; }},
        {"--application", "KRP_APPLICATION", [](CliOptions& o, const std::string& v) { o.connect.application = v; }},
        {"--token", "KRP_TOKEN", [](CliOptions& o, const std::string& v) { o.connect.token = v; }},
        {"--app-user", "KRP_APP_USER", [](CliOptions& o, const std::string& v) { o.connect.userName = v; }},
        {"--app-password", "KRP_APP_PASSWORD", [](CliOptions& o, const std::string& v) { o.connect.password = v; }},
        {"--session", "KRP_SESSION", [](CliOptions& o, const std::string& v) { o.session = v; }},
    };
    return options;
}

std::string trimmed(const std::string& text)
{
    const auto begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return {};
    const auto end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

Step callStep(const std::string& method, const std::string& arguments, int line)
{
    Step s;
    s.kind = Step::Kind::Call;
    s.name = method;
    s.arguments = arguments.empty() ? "[]" : arguments;
    s.line = line;
    return s;
}

}  // namespace

Environment processEnvironment()
{
    return [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        if (!value)
            return std::nullopt;
        return std::string(value);
    };
}

CliOptions parseCommandLine(const std::vector<std::string>& args, const Environment& env)
{
    CliOptions o;
    o.connect.application = "Kairanet";
    o.client.transport.verifyPeer = true;  // the system's trusted certificates unless told otherwise

    // The environment first, so that options given on the command line win.
    for (const ValueOption& option : valueOptions()) {
        if (const auto value = env(option.env))
            option.set(o, *value);
    }
    if (const auto insecure = env("KRP_INSECURE"); insecure && truthy(*insecure))
        o.client.transport.verifyPeer = false;

    std::vector<std::string> words;
    bool insecure = false;
    bool ca = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            o.command = CliOptions::Command::Help;
            return o;
        } else if (arg == "--version") {
            o.command = CliOptions::Command::Version;
            return o;
        } else if (arg == "--insecure" || arg == "-k") {
            insecure = true;
        } else if (arg == "--pretty") {
            o.pretty = true;
        } else if (arg == "--verbose" || arg == "-v") {
            o.verbose = true;
        } else if (arg == "--no-compression") {
            o.client.transport.acceptEncoding.clear();
        } else if (arg == "--compress-requests") {
            o.client.transport.requestCoding = transport::ContentCoding::Deflate;
        } else {
            const auto eq = arg.find('=');
            const std::string name = arg.substr(0, eq);
            const ValueOption* option = nullptr;
            for (const ValueOption& candidate : valueOptions())
                if (name == candidate.name)
                    option = &candidate;
            if (!option)
                throw UsageError("Unknown option \"" + arg + "\". See --help.");
            std::string value;
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
            } else {
                if (i + 1 >= args.size())
                    throw UsageError("Option " + name + " needs a value.");
                value = args[++i];
            }
            option->set(o, value);
            if (name == "--ca")
                ca = true;
        }
    }
    if (insecure && ca)
        throw UsageError("--insecure and --ca exclude each other: check the certificate or do not.");
    if (insecure)
        o.client.transport.verifyPeer = false;

    if (words.empty())
        throw UsageError("No command given. See --help.");
    const std::string& command = words[0];
    const auto expectWords = [&](std::size_t low, std::size_t high, const char* usage) {
        if (words.size() - 1 < low || words.size() - 1 > high)
            throw UsageError(std::string("Usage: krpalvelin-cli [OPTIONS] ") + usage);
    };
    if (command == "help") {
        o.command = CliOptions::Command::Help;
    } else if (command == "session") {
        expectWords(0, 0, "session");
        o.command = CliOptions::Command::Session;
    } else if (command == "call") {
        expectWords(1, 2, "call METHOD ['JSON-ARGUMENTS']");
        o.command = CliOptions::Command::Steps;
        o.steps.push_back(callStep(words[1], words.size() > 2 ? words[2] : std::string(), 0));
    } else if (command == "provider") {
        expectWords(1, 1, "provider NAME");
        o.command = CliOptions::Command::Steps;
        o.steps.push_back(Step{Step::Kind::Provider, words[1], {}, 0});
    } else if (command == "close") {
        expectWords(0, 0, "close");
        if (o.session.empty())
            throw UsageError("close needs the session: --session ID or KRP_SESSION.");
        o.command = CliOptions::Command::Steps;
        o.steps.push_back(Step{Step::Kind::Close, {}, {}, 0});
    } else if (command == "script") {
        expectWords(1, 1, "script FILE   (FILE - reads standard input)");
        o.command = CliOptions::Command::Steps;
        o.scriptFile = words[1];
    } else {
        throw UsageError("Unknown command \"" + command +
                         "\". The commands are session, call, provider, close and script.");
    }
    return o;
}

std::vector<Step> parseScript(const std::string& text)
{
    std::vector<Step> steps;
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        const std::string line = trimmed(raw);
        if (line.empty() || line[0] == '#')
            continue;
        const auto space = line.find_first_of(" \t");
        const std::string verb = line.substr(0, space);
        const std::string rest = space == std::string::npos ? std::string() : trimmed(line.substr(space + 1));
        const auto fail = [&](const std::string& why) {
            throw UsageError("Script line " + std::to_string(number) + ": " + why);
        };
        if (verb == "call") {
            if (rest.empty())
                fail("call needs a method name: call METHOD [JSON-ARGUMENTS]");
            const auto gap = rest.find_first_of(" \t");
            const std::string method = rest.substr(0, gap);
            const std::string arguments = gap == std::string::npos ? std::string() : trimmed(rest.substr(gap + 1));
            steps.push_back(callStep(method, arguments, number));
        } else if (verb == "provider") {
            if (rest.empty() || rest.find_first_of(" \t") != std::string::npos)
                fail("provider needs one name: provider NAME");
            steps.push_back(Step{Step::Kind::Provider, rest, {}, number});
        } else if (verb == "close") {
            if (!rest.empty())
                fail("close takes nothing after it");
            steps.push_back(Step{Step::Kind::Close, {}, {}, number});
        } else {
            fail("unknown step \"" + verb + "\"; the steps are call, provider and close");
        }
    }
    return steps;
}

std::string helpText()
{
    return R"(Usage: krpalvelin-cli [OPTIONS] COMMAND [ARGUMENTS]

Talks to a KRPalvelin server over HTTPS: opens a session through both gates, calls the
published methods of TServerMethods1, fetches the rows a method left in a provider and
closes the session. Answers are printed as JSON on standard output.

Commands:
  session                    Open a session and print its id, for --session or KRP_SESSION.
                             The session stays open until `close` or 20 idle minutes.
  call METHOD [JSON-ARGS]    Call METHOD with a JSON array of its arguments in declaration
                             order (default []), e.g.  call Ping '["Kairanet","pda-7"]'.
                             Prints {"result": R}, with "out": {...} for in/out parameters.
  provider NAME              Print the rows that the session's last call left in provider
                             NAME: {"columns": [...], "rows": [[...], ...]}.
  close                      Close the session of --session or KRP_SESSION.
  script FILE                Run the steps of FILE (- reads standard input) in one session,
                             printing each answer on a line of its own.

  call, provider and script use the session of --session / KRP_SESSION when one is given and
  leave it open. Otherwise they open a session of their own and close it when done (so a
  provider fetched on its own is always empty: fetch it in the session of the call).

Script steps, one per line; blank lines and lines starting with # are skipped:
  call METHOD [JSON-ARGS]    the rest of the line is the JSON array
  provider NAME
  close                      close the session now
  The script stops at the first error answer.

Connection (environment variable in brackets; an option beats its variable):
  --host HOST                [KRP_HOST]          server name or address (127.0.0.1)
  --port PORT                [KRP_PORT]          HTTPS port (14002)
  --ca FILE                  [KRP_CA]            trust the certificate(s) in this PEM file, e.g.
                                                 the server's own test.pem
  -k, --insecure             [KRP_INSECURE=1]    do not check the server's certificate
                             Without either, the certificate must be trusted by the system and
                             made out to HOST.
  --timeout SECONDS          [KRP_TIMEOUT]       limit of each network step (30)
  --no-compression                               do not ask for compressed answers
  --compress-requests                            send request bodies over 1024 bytes deflated

Gate 1, the fixed application credentials (HTTP Basic):
  --user NAME                [KRP_USER]          default: the credentials compiled into the
  --password PASSWORD        [KRP_PASSWORD]      server and its client applications
Gate 2, the connect properties:
  --application NAME         [KRP_APPLICATION]   "Application" (Kairanet)
  --token CODE               [KRP_TOKEN]         "Token": the access code stored in the ERP
                                                 setting "Mobiilisovellusten pääsykoodi"
  --app-user NAME            [KRP_APP_USER]      "ApplicationUserName": an ERP user (MYYJAPER)
  --app-password PASSWORD    [KRP_APP_PASSWORD]  "ApplicationPassword": that user's password
  --session ID               [KRP_SESSION]       work in this open session instead

Output:
  --pretty                   indent the JSON answers
  -v, --verbose              report each request and its answer's status, content encoding
                             and size on standard error
  -h, --help                 this text
  --version                  the program's version

Exit status:
  0  every step succeeded
  1  the server answered with an error (4xx or 5xx); its "error" text is on standard error
  2  the command line or the script is not usable
  3  no answer: the server is unreachable, TLS failed, or the answer is not the protocol's JSON
  4  outcome unknown: a call whose answer was lost was started, but the server stopped before
     it answered (409 "tulos epävarma"); it was not sent again and later steps did not run:
     check the data before you send it again

Example, against the demo (scripts/run-demo; its access code and users are in db/README.md):
  export KRP_TOKEN='Kx7-Ruoste-Tunturi-2026' KRP_APP_USER=VARASTO KRP_APP_PASSWORD=Hylly42
  krpalvelin-cli --ca demo-run/test.pem call TarkistaKayttooikeus '["", "VARASTO", "Hylly42"]'
  krpalvelin-cli --ca demo-run/test.pem script - <<'EOF'
  call MonivaiheinenTuotehaku [0, "6417000100014"]
  provider dspTuotelista
  EOF
)";
}

}  // namespace krp::cli
