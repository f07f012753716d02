#pragma once
// What a benchmark's server needs in its directory besides its database (SearchDatabase.h): a
// self-signed certificate of the kind the service ships with (RSA 2048, test.pem / test.key);
// the account of the benchmark's sessions; the run's watchdog and temporary directory.
#include <chrono>
#include <filesystem>
#include <string>

namespace krp::bench {

// The client side of the gates: what every benchmark session sends.
struct BenchAccount {
    static constexpr const char* application = "Kairanet";
    // 24 characters, none more than 4 times.
    static constexpr const char* accessCode = "Vk7pQ2rLx9Tm4Wz8Nc3Hb6Jd";
    static constexpr const char* user = "BENCH";
    static constexpr const char* password = "penkki-2024";
};

// Writes test.pem and test.key (unencrypted PEM) for CN=localhost, IP 127.0.0.1.
void writeSelfSignedCertificate(const std::filesystem::path& directory);

// Ends the whole run after `limit`, telling why as `program`; the servers the run started die
// with it (parent-death signal).
void startWatchdog(const char* program, std::chrono::seconds limit);

// A fresh directory under the system's temporary directory, removed with the object.
class TempDirectory {
public:
    explicit TempDirectory(const std::string& prefix);
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace krp::bench
