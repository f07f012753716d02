#include "BenchSetup.h"

#include "db/Database.h"
#include "db/Query.h"
#include "server/transport/SelfSignedCertificate.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
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

namespace {

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
    // RSA 2048, the kind of certificate the service ships with, so handshakes cost what they do
    // for real clients.
    transport::writeSelfSignedCertificate(directory / "test.pem", directory / "test.key",
                                          transport::CertificateKey::Rsa2048, 30);
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
