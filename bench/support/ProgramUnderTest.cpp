#include "ProgramUnderTest.h"

#include "LoopbackPort.h"

#include <csignal>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace krp::bench {

using namespace std::chrono_literals;

ProgramUnderTest::ProgramUnderTest(const std::string& program, const std::filesystem::path& directory,
                                   const std::string& database, const std::string& extraSettings)
    : port_(freeLoopbackPort())
{
    {
        std::ofstream ini(directory / "asetukset.ini", std::ios::trunc);
        ini << "[Tietokanta]\nVerkkonimi=" << database << "\n[Palvelu]\nPortti=" << port_
            << "\nTietokannan_tyyppi=1\n"
            // Every client of the benchmark comes from 127.0.0.1, as many terminals would from
            // their own addresses: one address may hold all the connections.
            << "[Rajat]\nYhteyksia_osoitteesta=100000\n"
            << extraSettings;
        if (!ini)
            throw std::runtime_error("cannot write " + (directory / "asetukset.ini").string());
    }
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{program, "--headless", "--config-dir", directory.string()}, ChildProcess::Stdio::Null,
        SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!listensOnLoopback(port_)) {
        if (process_->exited())
            throw std::runtime_error(program + " ended before it listened");
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error(program + " did not listen within 30 s");
        std::this_thread::sleep_for(100ms);
    }
}

ProgramUnderTest::~ProgramUnderTest()
{
    if (process_)
        process_->stop(SIGTERM, 10s);
}

}  // namespace krp::bench
