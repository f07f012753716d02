#include "NginxServer.h"

#include "LoopbackPort.h"
#include "ProcessStats.h"

#include <signal.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace krp::bench {

namespace {

// What `nginx -V` says about how it was built (it writes to standard error).
std::string buildOptions(const std::string& program)
{
    std::string text;
    const std::string command = "'" + program + "' -V 2>&1";
    if (std::FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, p))
            text.append(buffer, n);
        ::pclose(p);
    }
    return text;
}

std::string readText(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

NginxServer::NginxServer(const std::string& program, const std::filesystem::path& directory)
    : directory_(directory / "nginx")
{
    std::filesystem::create_directories(directory_);
    port_ = freeLoopbackPort();
    const auto d = directory_.string();
    const auto certificates = directory.string();

    // nginx creates the temporary directories of every module it was built with when it
    // starts; they go into our directory, not the system's.
    std::string temporaryPaths = "  client_body_temp_path " + d + "/body;\n";
    const std::string built = buildOptions(program);
    for (const std::string module : {"proxy", "fastcgi", "uwsgi", "scgi"}) {
        if (built.find("--without-http_" + module + "_module") == std::string::npos)
            temporaryPaths += "  " + module + "_temp_path " + d + "/" + module + ";\n";
    }

    std::ofstream conf(directory_ / "nginx.conf");
    conf << "daemon off;\n"
            "master_process on;\n"
            "worker_processes auto;\n"
            "pid "
         << d
         << "/nginx.pid;\n"
            "error_log "
         << d
         << "/error.log warn;\n"
            "events { worker_connections 4096; }\n"
            "http {\n"
            "  access_log off;\n"
         << temporaryPaths
         << "  keepalive_timeout 65s;\n"
            "  keepalive_requests 100000000;\n"
            "  server {\n"
            "    listen 127.0.0.1:"
         << port_
         << " ssl;\n"
            "    ssl_certificate "
         << certificates
         << "/test.pem;\n"
            "    ssl_certificate_key "
         << certificates
         << "/test.key;\n"
            "    ssl_protocols TLSv1.2 TLSv1.3;\n"
            "    location / {\n"
            "      default_type application/json;\n"
            "      return 200 '{\"result\":null}';\n"
            "    }\n"
            "  }\n"
            "}\n";
    conf.close();

    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{program, "-p", d + "/", "-c", d + "/nginx.conf", "-e", d + "/error.log"},
        ChildProcess::Stdio::Null, SIGTERM);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!listensOnLoopback(port_)) {
        if (process_->exited() || std::chrono::steady_clock::now() > until) {
            process_.reset();
            throw std::runtime_error("nginx did not start: " + readText(directory_ / "error.log"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

NginxServer::~NginxServer()
{
    if (process_)
        process_->stop(SIGTERM, std::chrono::seconds(5));
}

CpuTimes NginxServer::cpuTimes() const
{
    CpuTimes total = cpuTimesOf(process_->pid());
    for (const pid_t worker : childrenOf(process_->pid())) {
        const CpuTimes t = cpuTimesOf(worker);
        total.user += t.user;
        total.system += t.system;
    }
    return total;
}

long long NginxServer::contextSwitches() const
{
    long long total = contextSwitchesOf(process_->pid());
    for (const pid_t worker : childrenOf(process_->pid()))
        total += contextSwitchesOf(worker);
    return total;
}

unsigned NginxServer::workers() const
{
    return static_cast<unsigned>(childrenOf(process_->pid()).size());
}

long NginxServer::rssKiB() const
{
    long total = memoryOf(process_->pid()).rssKiB;
    for (const pid_t worker : childrenOf(process_->pid()))
        total += memoryOf(worker).rssKiB;
    return total;
}

}  // namespace krp::bench
