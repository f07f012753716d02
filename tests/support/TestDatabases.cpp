#include "support/TestDatabases.h"

#include "db/SqlText.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <atomic>
#include <map>
#include <mutex>

namespace krp::test {
namespace {

constexpr const char* kOdbcVariable = "KRP_TEST_ODBC";

QString mariaDbConnectionString()
{
    return QString::fromUtf8(qgetenv(kOdbcVariable)).trimmed();
}

// The connection string with its DATABASE (or DB) entry set to `name`.
QString withDatabase(const QString& connectionString, const QString& name)
{
    static const QRegularExpression entry(QStringLiteral("(^|;)\\s*(DATABASE|DB)\\s*=[^;]*"),
                                          QRegularExpression::CaseInsensitiveOption);
    QString cs = connectionString;
    if (cs.contains(entry))
        return cs.replace(entry, QStringLiteral("\\1DATABASE=") + name);
    if (!cs.endsWith(QLatin1Char(';')))
        cs += QLatin1Char(';');
    return cs + QStringLiteral("DATABASE=") + name;
}

QStringList scriptsFor(Backend backend, Content content)
{
    QStringList scripts{readSourceFile(QStringLiteral("db/schema.sql")),
                        readSourceFile(backend == Backend::Sqlite ? QStringLiteral("db/catalogue-sqlite.sql")
                                                                  : QStringLiteral("db/catalogue-mariadb.sql"))};
    if (content == Content::DemoData)
        scripts.append(readSourceFile(QStringLiteral("db/demo-data.sql")));
    return scripts;
}

void runScript(db::Database& database, const QString& script)
{
    for (const QString& statement : db::splitScript(script)) {
        db::Query q(database);
        q.addLine(statement);
        q.execute();
    }
}

// Loads the schema (and data) into an opened database; rows go in one transaction.
void load(db::Database& database, Backend backend, Content content)
{
    const QStringList scripts = scriptsFor(backend, content);
    for (qsizetype i = 0; i < 2; ++i)
        runScript(database, scripts[i]);
    if (scripts.size() > 2) {
        db::Transaction t(database);
        runScript(database, scripts[2]);
        t.commit();
    }
}

// One SQLite file per content, built once per process; each test copies it.
QString sqliteTemplate(Content content)
{
    static std::mutex mutex;
    static QTemporaryDir dir;
    static std::map<Content, QString> built;
    std::lock_guard lock(mutex);
    if (auto it = built.find(content); it != built.end())
        return it->second;
    if (!dir.isValid())
        throw db::Error("Cannot create a temporary directory for the test databases");
    const QString path =
        dir.filePath(content == Content::DemoData ? QStringLiteral("demo.db") : QStringLiteral("schema.db"));
    QFile(path).open(QIODevice::WriteOnly);
    db::ConnectionSettings settings;
    settings.kind = db::ConnectionSettings::Kind::Sqlite;
    settings.sqlitePath = path;
    {
        db::Database database;
        database.open(settings);
        load(database, Backend::Sqlite, content);
        database.close();  // the last connection folds the write-ahead log into the file
    }
    built[content] = path;
    return path;
}

// The account's own database, used to create and drop the test databases.
db::Database& mariaDbAdmin()
{
    static db::Database admin;
    if (!admin.isOpen()) {
        db::ConnectionSettings settings;
        settings.kind = db::ConnectionSettings::Kind::Odbc;
        settings.odbcConnectionString = mariaDbConnectionString();
        admin.open(settings);
    }
    return admin;
}

std::mutex& adminMutex()
{
    static std::mutex mutex;
    return mutex;
}

QString uniqueDatabaseName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("krp_t_%1_%2_%3")
        .arg(QCoreApplication::applicationPid())
        .arg(++counter)
        .arg(QRandomGenerator::global()->generate() & 0xffffff, 6, 16, QLatin1Char('0'));
}

}  // namespace

std::string backendName(const ::testing::TestParamInfo<Backend>& info)
{
    return info.param == Backend::Sqlite ? "Sqlite" : "MariaDb";
}

bool mariaDbConfigured()
{
    return !mariaDbConnectionString().isEmpty();
}

const char* mariaDbSkipMessage()
{
    return "MariaDB is not configured: set KRP_TEST_ODBC to the ODBC connection string that "
           "scripts/start-mariadb prints";
}

QString readSourceFile(const QString& relativePath)
{
    const QString path = QStringLiteral(KRP_SOURCE_DIR "/") + relativePath;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw db::Error("Cannot read " + path.toStdString());
    return QString::fromUtf8(file.readAll());
}

TestDatabase::TestDatabase(Backend backend, Content content) : backend_(backend)
{
    if (backend == Backend::Sqlite) {
        const QString source = sqliteTemplate(content);
        sqliteDir_ = std::make_unique<QTemporaryDir>();
        if (!sqliteDir_->isValid())
            throw db::Error("Cannot create a temporary directory for a test database");
        settings_.kind = db::ConnectionSettings::Kind::Sqlite;
        settings_.sqlitePath = sqliteDir_->filePath(QStringLiteral("krp.db"));
        if (!QFile::copy(source, settings_.sqlitePath))
            throw db::Error("Cannot copy the test database to " + settings_.sqlitePath.toStdString());
        QFile(settings_.sqlitePath).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        database_.open(settings_);
        return;
    }

    if (!mariaDbConfigured())
        throw db::Error(mariaDbSkipMessage());
    mariaDbName_ = uniqueDatabaseName();
    {
        std::lock_guard lock(adminMutex());
        db::Query create(mariaDbAdmin());
        create.addLine(QStringLiteral("CREATE DATABASE ") + mariaDbName_);
        create.execute();
    }
    settings_.kind = db::ConnectionSettings::Kind::Odbc;
    settings_.odbcConnectionString = withDatabase(mariaDbConnectionString(), mariaDbName_);
    database_.open(settings_);
    load(database_, backend, content);
}

TestDatabase::~TestDatabase()
{
    database_.close();
    if (!mariaDbName_.isEmpty()) {
        try {
            std::lock_guard lock(adminMutex());
            db::Query drop(mariaDbAdmin());
            drop.addLine(QStringLiteral("DROP DATABASE IF EXISTS ") + mariaDbName_);
            drop.execute();
        } catch (const db::Error& e) {
            ADD_FAILURE() << "Dropping test database " << mariaDbName_.toStdString() << ": " << e.what();
        }
    }
}

void TestDatabase::execute(const QString& sqlOrScript)
{
    runScript(database_, sqlOrScript);
}

QString TestDatabase::text(const QString& sql)
{
    db::Query q(database_);
    q.addLine(sql);
    q.open();
    return q.field(0).asText();
}

std::int64_t TestDatabase::integer(const QString& sql)
{
    db::Query q(database_);
    q.addLine(sql);
    q.open();
    return q.field(0).asInteger();
}

void DatabaseTest::SetUp()
{
    if (GetParam() == Backend::MariaDb && !mariaDbConfigured())
        GTEST_SKIP() << mariaDbSkipMessage();
    try {
        testDb_ = std::make_unique<TestDatabase>(GetParam(), content());
    } catch (const db::Error& e) {
        FAIL() << "Cannot set up the test database: " << e.what();
    }
}

void DatabaseTest::TearDown()
{
    testDb_.reset();
}

}  // namespace krp::test
