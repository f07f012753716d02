#include "ServerUnderTest.h"

#include <signal.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace krp::bench {

ServerUnderTest::ServerUnderTest(const std::filesystem::path& directory, std::size_t maxConnections,
                                 unsigned workerThreads)
{
    // A profiler may wrap the server: KRP_BENCH_SERVER_WRAPPER="valgrind --tool=callgrind".
    std::vector<std::string> argv;
    if (const char* wrapper = std::getenv("KRP_BENCH_SERVER_WRAPPER")) {
        std::istringstream words(wrapper);
        for (std::string word; words >> word;)
            argv.push_back(word);
    }
    for (const std::string& a : {std::filesystem::read_symlink("/proc/self/exe").string(), std::string("serve"),
                                 directory.string(), std::string("--max-connections"), std::to_string(maxConnections),
                                 std::string("--workers"), std::to_string(workerThreads)})
        argv.push_back(a);
    process_ = std::make_unique<ChildProcess>(argv, ChildProcess::Stdio::Pipes, SIGTERM);
    const auto line = process_->readLine(std::chrono::seconds(30));
    if (!line || line->rfind("listening ", 0) != 0)
        throw std::runtime_error("the benchmark server did not start: " + line.value_or("(no answer)"));
    port_ = static_cast<std::uint16_t>(std::stoul(line->substr(10)));
}

ServerUnderTest::~ServerUnderTest()
{
    // Closing its input asks it to stop the service and end.
    process_->stop(0, std::chrono::seconds(30));
}

std::map<std::string, long> ServerUnderTest::status()
{
    process_->writeLine("status");
    const auto line = process_->readLine(std::chrono::seconds(60));
    if (!line || line->rfind("status ", 0) != 0)
        throw std::runtime_error("the benchmark server does not answer: " + line.value_or("(no answer)"));
    std::map<std::string, long> values;
    std::istringstream fields(line->substr(7));
    for (std::string field; fields >> field;) {
        const auto eq = field.find('=');
        if (eq != std::string::npos)
            values[field.substr(0, eq)] = std::stol(field.substr(eq + 1));
    }
    return values;
}

}  // namespace krp::bench
