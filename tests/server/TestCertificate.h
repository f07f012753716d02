#pragma once
// A self-signed certificate for "localhost"/127.0.0.1 and its key, written as PEM files into a
// temporary directory that goes away with the object.
#include <filesystem>
#include <string>

namespace krp::test {

class TestCertificate {
public:
    TestCertificate();
    ~TestCertificate();
    TestCertificate(const TestCertificate&) = delete;
    TestCertificate& operator=(const TestCertificate&) = delete;

    const std::filesystem::path& directory() const { return directory_; }
    std::string certificateFile() const { return (directory_ / "test.pem").string(); }
    std::string keyFile() const { return (directory_ / "test.key").string(); }

    // Writes a fresh private key that does not belong to the certificate; returns its path.
    std::string writeForeignKey(const std::string& name) const;
    // Writes `text` into a file of the directory; returns its path.
    std::string writeFile(const std::string& name, const std::string& text) const;

private:
    std::filesystem::path directory_;
};

}  // namespace krp::test
