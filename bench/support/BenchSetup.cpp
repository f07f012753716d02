#include "BenchSetup.h"

#include "server/transport/SelfSignedCertificate.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace krp::bench {

void startWatchdog(const char* program, std::chrono::seconds limit)
{
    std::thread([program, limit] {
        std::this_thread::sleep_for(limit);
        std::fprintf(stderr, "%s: time limit of %lld s reached, stopping\n", program,
                     static_cast<long long>(limit.count()));
        std::_Exit(3);
    }).detach();
}

void writeSelfSignedCertificate(const std::filesystem::path& directory)
{
    // RSA 2048, the kind of certificate the service ships with, so handshakes cost what they do
    // for real clients.
    transport::writeSelfSignedCertificate(directory / "test.pem", directory / "test.key",
                                          transport::CertificateKey::Rsa2048, 30);
}

TempDirectory::TempDirectory(const std::string& prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary directory");
    path_ = pattern;
}

TempDirectory::~TempDirectory()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace krp::bench
