#include "TestCertificate.h"

#include "server/transport/SelfSignedCertificate.h"

#include <fstream>
#include <random>

namespace krp::test {

TestCertificate::TestCertificate()
{
    std::random_device random;
    directory_ =
        std::filesystem::temp_directory_path() / ("krp-cert-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(directory_);
    transport::writeSelfSignedCertificate(certificateFile(), keyFile(), transport::CertificateKey::EcP256, 365);
}

TestCertificate::~TestCertificate()
{
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

std::string TestCertificate::writeForeignKey(const std::string& name) const
{
    const auto path = (directory_ / name).string();
    transport::writePrivateKey(path, transport::CertificateKey::EcP256);
    return path;
}

std::string TestCertificate::writeFile(const std::string& name, const std::string& text) const
{
    const auto path = (directory_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

}  // namespace krp::test
