#include "TestCertificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>

namespace krp::test {
namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

Key newKey()
{
    Key key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
    if (!key)
        throw std::runtime_error("EVP_EC_gen failed");
    return key;
}

void writeKey(EVP_PKEY* key, const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        throw std::runtime_error("cannot write " + path);
    std::fclose(f);
}

void addExtension(X509* certificate, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        throw std::runtime_error("X509V3_EXT_conf_nid failed");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

}  // namespace

TestCertificate::TestCertificate()
{
    std::random_device random;
    directory_ = std::filesystem::temp_directory_path() /
                 ("krp-cert-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(directory_);

    const Key key = newKey();
    Certificate certificate(X509_new(), &X509_free);
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3600L * 24 * 365);
    X509_set_pubkey(certificate.get(), key.get());
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    addExtension(certificate.get(), NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
    addExtension(certificate.get(), NID_basic_constraints, "critical,CA:TRUE");
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0)
        throw std::runtime_error("X509_sign failed");

    std::FILE* f = std::fopen(certificateFile().c_str(), "wb");
    if (!f || PEM_write_X509(f, certificate.get()) != 1)
        throw std::runtime_error("cannot write the certificate");
    std::fclose(f);
    writeKey(key.get(), keyFile());
}

TestCertificate::~TestCertificate()
{
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

std::string TestCertificate::writeForeignKey(const std::string& name) const
{
    const auto path = (directory_ / name).string();
    writeKey(newKey().get(), path);
    return path;
}

std::string TestCertificate::writeFile(const std::string& name, const std::string& text) const
{
    const auto path = (directory_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

}  // namespace krp::test
