#pragma once
// A self-signed certificate for "localhost" / 127.0.0.1 with its unencrypted private key, as
// PEM files: what tests and the benchmark give the server in place of a customer's certificate.
#include <filesystem>

namespace krp::transport {

enum class CertificateKey { EcP256, Rsa2048 };

// Writes the certificate to `certificateFile` and its key to `keyFile`; throws
// std::runtime_error naming what failed.
void writeSelfSignedCertificate(const std::filesystem::path& certificateFile, const std::filesystem::path& keyFile,
                                CertificateKey keyType, int validDays);

// Writes a fresh private key of that type (one that belongs to no certificate).
void writePrivateKey(const std::filesystem::path& keyFile, CertificateKey keyType);

}  // namespace krp::transport
