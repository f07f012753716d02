#pragma once
// The program itself as the server under test: krpalvelin started from a settings directory
// that holds asetukset.ini (written here), test.pem, test.key and its database, exactly as an
// installation runs it. The one way the benchmarks start the server they measure or fault.
#include "ChildProcess.h"

#include <csignal>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace krp::bench {

class ProgramUnderTest {
public:
    struct Settings {
        std::string program;              // krpalvelin
        std::filesystem::path directory;  // its settings directory
        std::string database;             // Verkkonimi: "sqlite:FILE" or "odbc:CONNECTION-STRING"
        std::uint16_t port = 0;           // 0: a free loopback port
        std::string databaseSettings;     // more lines of [Tietokanta] ("Lauseen_aikaraja=2\n")
        std::string extraSettings;        // sections appended as they stand
        // Every client of a benchmark comes from 127.0.0.1, as many terminals would from their
        // own addresses: one address may hold all the connections and sessions.
        // KRP_BENCH_SERVER_WRAPPER (e.g. "strace -f -o FILE") wraps the program when set.
        bool loopbackLimits = true;
        // Headless (event log to standard output, here /dev/null); otherwise the window drawn
        // offscreen, as on a desktop.
        bool headless = true;
        int deathSignal = SIGTERM;  // what it gets when the benchmark itself dies
    };

    // Writes asetukset.ini and starts the program; returns when it listens. Throws when it does
    // not within 30 s.
    explicit ProgramUnderTest(Settings settings);
    ~ProgramUnderTest();  // SIGTERM, as a service manager stops it

    // Starts it again after stop(); does not wait.
    void start();
    // Stops it with `signal` (SIGKILL: at once; SIGTERM: the orderly stop) within `grace`.
    void stop(int signal, std::chrono::milliseconds grace);
    // Waits until it accepts connections; false when it ended or the time ran out.
    bool waitUntilListening(std::chrono::milliseconds limit);

    std::uint16_t port() const { return port_; }
    pid_t pid() const { return process_ ? process_->pid() : -1; }
    const Settings& settings() const { return settings_; }

private:
    Settings settings_;
    std::uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace krp::bench
