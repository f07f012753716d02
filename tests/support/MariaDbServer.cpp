#include "support/MariaDbServer.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <csignal>
#include <stdexcept>

namespace krp::test {
namespace {

QString dataDir()
{
    return QString::fromLocal8Bit(qgetenv("KRP_TEST_MARIADB_DIR")).trimmed();
}

// scripts/start-mariadb on the test server's data directory and port.
void runStartScript(const QStringList& arguments)
{
    static const QRegularExpression port(QStringLiteral("PORT=(\\d+)"), QRegularExpression::CaseInsensitiveOption);
    const auto match = port.match(QString::fromUtf8(qgetenv("KRP_TEST_ODBC")));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (match.hasMatch())
        env.insert(QStringLiteral("KRP_MARIADB_PORT"), match.captured(1));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral(KRP_SOURCE_DIR "/scripts/start-mariadb"), arguments + QStringList{dataDir()});
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        throw std::runtime_error("scripts/start-mariadb " + arguments.join(' ').toStdString() + " failed");
}

}  // namespace

bool mariaDbServerControllable()
{
    return !qgetenv("KRP_TEST_ODBC").trimmed().isEmpty() && !dataDir().isEmpty() && mariaDbServerPid() > 0;
}

const char* mariaDbServerSkipMessage()
{
    return "needs the test MariaDB server as a process: set KRP_TEST_ODBC and KRP_TEST_MARIADB_DIR "
           "(its data directory, as scripts/run-tests does)";
}

pid_t mariaDbServerPid()
{
    QFile f(dataDir() + QStringLiteral("/mariadb.pid"));
    if (dataDir().isEmpty() || !f.open(QIODevice::ReadOnly))
        return 0;
    return static_cast<pid_t>(f.readAll().trimmed().toLongLong());
}

FrozenMariaDb::FrozenMariaDb() : pid_(mariaDbServerPid())
{
    if (pid_ <= 0 || ::kill(pid_, SIGSTOP) != 0)
        throw std::runtime_error("cannot freeze the test MariaDB server");
}

FrozenMariaDb::~FrozenMariaDb()
{
    thaw();
}

void FrozenMariaDb::thaw()
{
    if (pid_ > 0)
        ::kill(pid_, SIGCONT);
    pid_ = 0;
}

StoppedMariaDb::StoppedMariaDb()
{
    runStartScript({QStringLiteral("--stop")});
    stopped_ = true;
}

StoppedMariaDb::~StoppedMariaDb()
{
    try {
        start();
    } catch (const std::exception&) {
        // Nothing more to do here; the next test reports the missing server.
    }
}

void StoppedMariaDb::start()
{
    if (!stopped_)
        return;
    runStartScript({});
    stopped_ = false;
}

}  // namespace krp::test
