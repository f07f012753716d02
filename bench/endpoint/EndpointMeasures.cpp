#include "EndpointMeasures.h"

#include "support/NginxServer.h"
#include "support/ProgramUnderTest.h"

#include <unistd.h>

#include <memory>
#include <optional>
#include <thread>

namespace krp::bench {

using namespace std::chrono_literals;

namespace {

ProgramUnderTest::Settings programSettings(const Options& options, const std::filesystem::path& dir)
{
    ProgramUnderTest::Settings s;
    s.program = options.program;
    s.directory = dir;
    s.database = "sqlite:erp.sqlite";
    return s;
}

// Ping with wrk at `c` connections on the program (in sessions opened for it) and on nginx.
void measureWithWrk(const Options& options, const std::filesystem::path& dir, LoadGenerator& generator,
                    const ProgramUnderTest& program, ServerWindow& window, NginxServer* nginx,
                    ServerWindow* nginxWindow, unsigned c, std::vector<WrkRow>& runs)
{
    const std::string body = "[\"Kairanet\",\"bench-wrk\"]";
    WrkRun run;
    run.program = options.wrk;
    run.path = "/api/v1/methods/Ping";
    run.body = body;
    run.connections = c;
    run.threads = options.wrkThreads;
    run.duration = options.duration;
    const auto measure = [&](const std::string& server, std::uint16_t port, std::vector<std::string> sessions,
                             ServerWindow& w) {
        run.port = port;
        run.sessions = std::move(sessions);
        const auto hooks = w.hooks();
        hooks.onStart();
        const auto t0 = std::chrono::steady_clock::now();
        WrkRow row;
        row.server = server;
        row.concurrency = c;
        row.result = runWrk(run, dir.string());
        hooks.onEnd();
        PhaseResult counted;
        counted.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        counted.operations = row.result.requests;
        row.share = shareOf(w, counted);
        runs.push_back(std::move(row));
    };
    progress("Ping with " + std::to_string(c) + " sessions, load by wrk");
    std::vector<std::string> sessions = generator.openSessions(program.port(), c);
    measure("KRPalvelin", program.port(), sessions, window);
    generator.closeSessions(program.port(), sessions);
    if (nginx) {
        progress("nginx with " + std::to_string(c) + " connections, load by wrk");
        measure("nginx", nginx->port(), {}, *nginxWindow);
    }
}

}  // namespace

// Calls and session openings on one program; nginx, when compared, runs beside it and takes
// its turn right after the program at the same concurrency, so that both see the same
// background load; wrk drives Ping and nginx once more after the generator.
LoadFigures measureLoad(const Options& options, const std::filesystem::path& dir, LoadGenerator& generator,
                        const Limits& limits, const Calls& calls)
{
    LoadFigures f;
    std::vector<CallRow> runs, openRuns;
    std::vector<WrkRow> wrkRuns;
    progress("starting " + options.program + " for the load phases");
    ProgramUnderTest program(programSettings(options, dir));
    const Endpoint endpoint{program.port(), true};
    const pid_t pid = program.pid();
    ServerWindow window{[pid] { return cpuTimesOf(pid); }, [pid] { return contextSwitchesOf(pid); }};
    std::unique_ptr<NginxServer> nginx;
    std::optional<ServerWindow> nginxWindow;
    if (options.withNginx) {
        try {
            progress("starting nginx");
            nginx = std::make_unique<NginxServer>(options.nginx, dir);
            f.nginxNote = std::to_string(nginx->workers()) + " worker processes";
            nginxWindow.emplace(
                ServerWindow{[&] { return nginx->cpuTimes(); }, [&] { return nginx->contextSwitches(); }});
        } catch (const std::exception& e) {
            f.nginxNote = std::string("not measured: ") + e.what();
        }
    } else {
        f.nginxNote = "left out (--no-nginx)";
    }
    bool withWrk = options.withWrk;
    if (withWrk && ::access(options.wrk.c_str(), X_OK) != 0) {
        f.wrkNote = "not measured: " + options.wrk + " not found (scripts/install-deps installs wrk)";
        withWrk = false;
    }
    for (unsigned run = 1; run <= options.repeat; ++run) {
        const std::string of = " (run " + std::to_string(run) + " of " + std::to_string(options.repeat) + ")";
        for (const unsigned c : options.concurrency) {
            for (const Call* call : {&calls.ping, &calls.check}) {
                progress(call->name + " with " + std::to_string(c) + " sessions" + of);
                PhaseResult r = generator.runCalls(endpoint, *call, c, limits, window.hooks());
                const ServerShare share = shareOf(window, r);
                runs.push_back({"KRPalvelin", call->name, std::move(r), share});
            }
            if (nginx) {
                progress("nginx with " + std::to_string(c) + " connections" + of);
                PhaseResult r = generator.runCalls({nginx->port(), false}, calls.ping, c, limits, nginxWindow->hooks());
                const ServerShare share = shareOf(*nginxWindow, r);
                runs.push_back({"nginx", "return 200", std::move(r), share});
            }
            if (withWrk && c >= options.wrkThreads) {
                try {
                    measureWithWrk(options, dir, generator, program, window, nginx.get(),
                                   nginxWindow ? &*nginxWindow : nullptr, c, wrkRuns);
                } catch (const std::exception& e) {
                    f.wrkNote = std::string("not measured: ") + e.what();
                    withWrk = false;
                }
            }
        }
        for (const unsigned c : options.openConcurrency) {
            progress("session openings with " + std::to_string(c) + " parallel clients" + of);
            PhaseResult r = generator.runSessionOpens(endpoint, c, limits, window.hooks());
            const ServerShare share = shareOf(window, r);
            openRuns.push_back({"KRPalvelin", "open", std::move(r), share});
        }
    }
    f.afterLoad = readServerMetrics(generator, program.port());
    f.calls = medianRuns(runs);
    f.opens = medianRuns(openRuns);
    f.wrk = medianWrkRuns(wrkRuns);
    if (withWrk && f.wrkNote.empty())
        f.wrkNote = "wrk " + std::to_string(options.wrkThreads) + " threads, the same POST in sessions opened for it";
    return f;
}

// Idle sessions, each measure on a fresh program.
std::vector<IdleFigure> measureIdleSessions(const Options& options, const std::filesystem::path& dir,
                                            LoadGenerator& generator, const Limits& limits)
{
    std::vector<IdleFigure> idle;
    if (options.idleSessions == 0)
        return idle;
    for (const bool keepConnections : {true, false}) {
        progress("opening " + std::to_string(options.idleSessions) + " idle sessions" +
                 (keepConnections ? " with their connections" : ""));
        ProgramUnderTest program(programSettings(options, dir));
        IdleFigure figure;
        figure.keepConnections = keepConnections;
        std::this_thread::sleep_for(500ms);
        figure.started = memoryOf(program.pid());
        auto held = generator.openIdleSessions({program.port(), true}, options.idleSessions, kIdleOpeners,
                                               keepConnections, limits);
        figure.opened = held->opened();
        if (held->errors() > 0)
            figure.errors = std::to_string(held->errors()) + " (" + held->firstError() + ")";
        std::this_thread::sleep_for(1500ms);  // the session-created log lines fall due after 1 s
        figure.held = memoryOf(program.pid());
        figure.metrics = readServerMetrics(generator, program.port());
        idle.push_back(std::move(figure));
    }
    return idle;
}

}  // namespace krp::bench
