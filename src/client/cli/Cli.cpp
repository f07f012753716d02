#include "client/cli/Cli.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace krp::cli {

namespace {

using client::KrpClient;
using client::KrpError;

std::string jsonText(const client::JsonAnswer& answer, bool pretty)
{
    if (!pretty)
        return answer.text;
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> w(buffer);
    w.SetIndent(' ', 2);
    answer.document.Accept(w);
    return {buffer.GetString(), buffer.GetSize()};
}

void report(std::ostream& err, const KrpClient& client)
{
    const auto& r = client.lastResponse();
    err << "< " << r.status;
    if (!r.contentEncoding.empty())
        err << ", " << r.contentEncoding << " " << r.wireBytes << " bytes, " << r.bodyBytes << " decompressed";
    else
        err << ", " << r.bodyBytes << " bytes";
    if (r.attempts > 1)
        err << ", sent " << r.attempts << " times";
    if (r.replayed)
        err << ", the answer kept from an earlier sending";
    err << '\n';
}

std::string describe(const Step& step)
{
    switch (step.kind) {
    case Step::Kind::Call: return "call " + step.name + " " + step.arguments;
    case Step::Kind::Provider: return "provider " + step.name;
    case Step::Kind::Close: return "close";
    }
    return {};
}

// The failure's exit status, after telling what failed on `err`.
int failure(std::ostream& err, const KrpError& e, const CliOptions& options, const Step* step)
{
    err << "krpalvelin-cli: ";
    if (step && step->line > 0)
        err << "script line " << step->line << ": ";
    if (e.outcomeUnknown()) {
        err << "HTTP " << e.status() << ": " << e.error() << '\n'
            << "krpalvelin-cli: the outcome of this call is unknown; it was not sent again. Check the data "
               "before you send it with a new key.\n";
        return kExitOutcomeUnknown;
    }
    if (e.status() != 0) {
        err << "HTTP " << e.status() << ": " << e.error() << '\n';
        return kExitErrorAnswer;
    }
    err << e.error() << '\n';
    if (options.client.transport.verifyPeer && e.error().find("certificate") != std::string::npos)
        err << "krpalvelin-cli: the server's certificate is not trusted: give it with --ca FILE "
               "(the server's test.pem), or skip the check with --insecure.\n";
    return kExitNoAnswer;
}

std::string readScript(const std::string& file, std::istream& in)
{
    if (file == "-")
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::ifstream f(file, std::ios::binary);
    if (!f)
        throw UsageError("Cannot read the script \"" + file + "\".");
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

int runCommand(const CliOptions& options, const std::vector<Step>& steps, std::ostream& out, std::ostream& err);

int runSteps(const CliOptions& options, const std::vector<Step>& steps, std::ostream& out, std::ostream& err)
{
    KrpClient client(options.client);
    bool ownSession = false;
    const Step* current = nullptr;
    int status = kExitOk;
    try {
        if (options.session.empty()) {
            if (options.verbose)
                err << "> open a session as \"" << options.connect.application << "\"\n";
            client.openSession(options.connect);
            ownSession = true;
            if (options.verbose)
                report(err, client);
        } else {
            client.useSession(options.session);
        }
        for (const Step& step : steps) {
            current = &step;
            if (options.verbose)
                err << "> " << describe(step) << '\n';
            switch (step.kind) {
            case Step::Kind::Call:
                out << jsonText(client.call(step.name, step.arguments), options.pretty) << '\n';
                break;
            case Step::Kind::Provider: out << jsonText(client.provider(step.name), options.pretty) << '\n'; break;
            case Step::Kind::Close:
                client.closeSession();
                ownSession = false;
                break;
            }
            out.flush();
            if (options.verbose)
                report(err, client);
        }
        current = nullptr;
    } catch (const KrpError& e) {
        status = failure(err, e, options, current);
    }
    // A session of our own does not outlive the command.
    if (ownSession && client.hasSession()) {
        try {
            client.closeSession();
        } catch (const KrpError& e) {
            if (status == kExitOk)
                status = failure(err, e, options, nullptr);
        }
    }
    return status;
}

}  // namespace

int runCli(const std::vector<std::string>& args, const Environment& env, std::istream& in, std::ostream& out,
           std::ostream& err)
{
    CliOptions options;
    std::vector<Step> steps;
    try {
        options = parseCommandLine(args, env);
        if (options.command == CliOptions::Command::Steps)
            steps = options.scriptFile.empty() ? options.steps : parseScript(readScript(options.scriptFile, in));
    } catch (const UsageError& e) {
        err << "krpalvelin-cli: " << e.what() << '\n';
        return kExitUsage;
    }

    try {
        return runCommand(options, steps, out, err);
    } catch (const KrpError& e) {  // a client that cannot even be set up
        return failure(err, e, options, nullptr);
    }
}

namespace {

int runCommand(const CliOptions& options, const std::vector<Step>& steps, std::ostream& out, std::ostream& err)
{
    switch (options.command) {
    case CliOptions::Command::Help: out << helpText(); return kExitOk;
    case CliOptions::Command::Version: out << "krpalvelin-cli " KRP_VERSION "\n"; return kExitOk;
    case CliOptions::Command::Session: {
        KrpClient client(options.client);
        try {
            out << client.openSession(options.connect) << '\n';
            if (options.verbose)
                report(err, client);
        } catch (const KrpError& e) {
            return failure(err, e, options, nullptr);
        }
        return kExitOk;
    }
    case CliOptions::Command::Steps: return runSteps(options, steps, out, err);
    }
    return kExitUsage;
}

}  // namespace

}  // namespace krp::cli
