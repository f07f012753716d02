#pragma once
// The program itself as the server under test: krpalvelin started headless from a settings
// directory that holds asetukset.ini, test.pem, test.key and the SQLite file; its window is
// drawn offscreen, its event log goes to the window, to memory and to standard output (here
// /dev/null), exactly as an installation runs it.
#include "ChildProcess.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace krp::bench {

class ProgramUnderTest {
public:
    // Writes asetukset.ini (the database `database` as Verkkonimi takes it, "sqlite:FILE" or
    // "odbc:CONNECTION-STRING", a free port, `extraSettings` appended as they stand) and starts
    // `program`; returns when it accepts connections. Throws when it does not within 30 s.
    ProgramUnderTest(const std::string& program, const std::filesystem::path& directory, const std::string& database,
                     const std::string& extraSettings = {});
    ~ProgramUnderTest();  // SIGTERM, as a service manager stops it

    std::uint16_t port() const { return port_; }
    pid_t pid() const { return process_->pid(); }

private:
    std::uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace krp::bench
