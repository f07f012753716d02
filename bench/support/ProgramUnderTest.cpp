#include "ProgramUnderTest.h"

#include "LoopbackPort.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace krp::bench {

using namespace std::chrono_literals;

ProgramUnderTest::ProgramUnderTest(Settings settings)
    : settings_(std::move(settings)), port_(settings_.port ? settings_.port : freeLoopbackPort())
{
    {
        const auto file = settings_.directory / "asetukset.ini";
        std::ofstream ini(file, std::ios::trunc);
        ini << "[Tietokanta]\nVerkkonimi=" << settings_.database << "\n"
            << settings_.databaseSettings << "[Palvelu]\nPortti=" << port_ << "\n";
        if (settings_.loopbackLimits)
            ini << "Tietokannan_tyyppi=1\nIstuntoja_osoitteesta=100000\n[Rajat]\nYhteyksia_osoitteesta=100000\n";
        ini << settings_.extraSettings;
        if (!ini)
            throw std::runtime_error("cannot write " + file.string());
    }
    if (!settings_.headless)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    start();
    if (!waitUntilListening(30s))
        throw std::runtime_error(settings_.program +
                                 (process_->exited() ? " ended before it listened" : " did not listen within 30 s"));
}

ProgramUnderTest::~ProgramUnderTest()
{
    stop(SIGTERM, 60s);
}

void ProgramUnderTest::start()
{
    // A profiler may wrap the program: KRP_BENCH_SERVER_WRAPPER="valgrind --tool=callgrind".
    std::vector<std::string> argv;
    if (const char* wrapper = std::getenv("KRP_BENCH_SERVER_WRAPPER")) {
        std::istringstream words(wrapper);
        for (std::string word; words >> word;)
            argv.push_back(word);
    }
    argv.push_back(settings_.program);
    if (settings_.headless)
        argv.push_back("--headless");
    argv.push_back("--config-dir");
    argv.push_back(settings_.directory.string());
    process_ = std::make_unique<ChildProcess>(argv, ChildProcess::Stdio::Null, settings_.deathSignal);
}

void ProgramUnderTest::stop(int signal, std::chrono::milliseconds grace)
{
    if (!process_)
        return;
    process_->stop(signal, grace);
    process_.reset();
}

bool ProgramUnderTest::waitUntilListening(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!listensOnLoopback(port_)) {
        if (!process_ || process_->exited() || std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

}  // namespace krp::bench
