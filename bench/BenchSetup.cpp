#include "BenchSetup.h"

#include "db/Database.h"
#include "db/Query.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace krp::bench {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

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

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::unique_ptr<std::FILE, FileCloser> openForWriting(const std::filesystem::path& path)
{
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
    if (!f)
        throw std::runtime_error("cannot write " + path.string());
    return f;
}

}  // namespace

void writeSelfSignedCertificate(const std::filesystem::path& directory)
{
    Key key(EVP_RSA_gen(2048), &EVP_PKEY_free);
    if (!key)
        throw std::runtime_error("RSA key generation failed");
    Certificate certificate(X509_new(), &X509_free);
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3600L * 24 * 30);
    X509_set_pubkey(certificate.get(), key.get());
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    addExtension(certificate.get(), NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0)
        throw std::runtime_error("signing the certificate failed");

    {
        auto f = openForWriting(directory / "test.pem");
        if (PEM_write_X509(f.get(), certificate.get()) != 1)
            throw std::runtime_error("cannot write test.pem");
    }
    auto f = openForWriting(directory / "test.key");
    if (PEM_write_PrivateKey(f.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        throw std::runtime_error("cannot write test.key");
}

void createBenchDatabase(const std::filesystem::path& file)
{
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    openForWriting(file);  // an empty file is an empty SQLite database

    db::Database database;
    database.open(db::parseDatabaseField(QStringLiteral("sqlite:") + QString::fromStdString(file.string()),
                                         QString(), QString()));
    db::Query q(database);
    q.setSql({QStringLiteral("CREATE TABLE ASETUS (ASETUS VARCHAR(80) PRIMARY KEY, ARVO VARCHAR(1024))")});
    q.execute();
    q.setSql({QStringLiteral("CREATE TABLE MYYJAPER (MP_KAYTTAJATUNNUS VARCHAR(30) PRIMARY KEY, MP_SALASANA VARCHAR(30))")});
    q.execute();
    q.setSql({QStringLiteral("INSERT INTO ASETUS (ASETUS, ARVO) VALUES (:a, :v)")});
    q.param(QStringLiteral("a")).setText(QStringLiteral("Mobiilisovellusten pääsykoodi"));
    q.param(QStringLiteral("v")).setText(QString::fromLatin1(BenchAccount::accessCode));
    q.execute();
    q.setSql({QStringLiteral("INSERT INTO MYYJAPER (MP_KAYTTAJATUNNUS, MP_SALASANA) VALUES (:k, :s)")});
    q.param(QStringLiteral("k")).setText(QString::fromLatin1(BenchAccount::user));
    q.param(QStringLiteral("s")).setText(QString::fromLatin1(BenchAccount::password));
    q.execute();
    database.close();
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
