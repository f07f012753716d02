#include "server/transport/SelfSignedCertificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

namespace krp::transport {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File openForWriting(const std::filesystem::path& path)
{
    File f(std::fopen(path.c_str(), "wb"));
    if (!f)
        throw std::runtime_error("cannot write " + path.string());
    return f;
}

Key newKey(CertificateKey type)
{
    Key key(type == CertificateKey::Rsa2048 ? EVP_RSA_gen(2048) : EVP_EC_gen("P-256"), &EVP_PKEY_free);
    if (!key)
        throw std::runtime_error("generating the private key failed");
    return key;
}

void writeKey(EVP_PKEY* key, const std::filesystem::path& path)
{
    File f = openForWriting(path);
    if (PEM_write_PrivateKey(f.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        throw std::runtime_error("cannot write " + path.string());
}

void addExtension(X509* certificate, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        throw std::runtime_error("certificate extension refused");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

}  // namespace

void writeSelfSignedCertificate(const std::filesystem::path& certificateFile, const std::filesystem::path& keyFile,
                                CertificateKey keyType, int validDays)
{
    const Key key = newKey(keyType);
    Certificate certificate(X509_new(), &X509_free);
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3600L * 24 * validDays);
    X509_set_pubkey(certificate.get(), key.get());
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"), -1, -1,
                               0);
    X509_set_issuer_name(certificate.get(), name);
    addExtension(certificate.get(), NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
    // Self-signed: the certificate is its own authority, so clients can trust it with --ca.
    addExtension(certificate.get(), NID_basic_constraints, "critical,CA:TRUE");
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0)
        throw std::runtime_error("signing the certificate failed");

    {
        File f = openForWriting(certificateFile);
        if (PEM_write_X509(f.get(), certificate.get()) != 1)
            throw std::runtime_error("cannot write " + certificateFile.string());
    }
    writeKey(key.get(), keyFile);
}

void writePrivateKey(const std::filesystem::path& keyFile, CertificateKey keyType)
{
    writeKey(newKey(keyType).get(), keyFile);
}

}  // namespace krp::transport
