// The real krpalvelin program without a display: it runs offscreen, writes message boxes to
// standard error, and SIGTERM / SIGINT close it as the operator would.
#include "support/QtTestApp.h"
#include "SqliteErp.h"
#include "TempDir.h"
#include "TestCertificate.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

namespace {

// Whether the process has its own handler for `signal` (so a signal no longer kills it).
bool catchesSignal(qint64 pid, int signal)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            const quint64 mask = line.mid(7).trimmed().toULongLong(nullptr, 16);
            return (mask >> (signal - 1)) & 1u;
        }
    }
    return false;
}

// A loopback port free now (the system picks it).
quint16 freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Whether something accepts connections on the loopback port.
bool listens(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return connected;
}

// Starts the program on the settings of `configDir`, without a display (it runs offscreen).
void startWithoutDisplay(QProcess& process, const QString& configDir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(KRP_PROGRAM), {QStringLiteral("--config-dir"), configDir});
    ASSERT_TRUE(process.waitForStarted());
}

class HeadlessProgram : public ::testing::TestWithParam<int> {
protected:
    void start(const QStringList& extraArgs = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(KRP_PROGRAM), QStringList{QStringLiteral("--config-dir"), dir.path()} + extraArgs);
        ASSERT_TRUE(process.waitForStarted());
        ASSERT_TRUE(krp::test::processEventsUntil(
            [&] { return catchesSignal(process.processId(), SIGTERM) || process.state() == QProcess::NotRunning; }));
        ASSERT_EQ(process.state(), QProcess::Running) << process.readAllStandardError().toStdString();
    }

    void stop(int signal)
    {
        ::kill(static_cast<pid_t>(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(60000));
    }

    QString iniPath() const { return dir.filePath(QStringLiteral("asetukset.ini")); }

    QTemporaryDir dir;
    QProcess process;
};

TEST_P(HeadlessProgram, SignalSavesTheSettingsAndExitsCleanly)
{
    krp::test::qtApp();
    start();
    stop(GetParam());
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(krp::test::readAll(iniPath()),
              QByteArray("[Tietokanta]\nVerkkonimi=\n\n[Palvelu]\nPortti=\nTietokannan_tyyppi=1\n"));
}

INSTANTIATE_TEST_SUITE_P(Signals, HeadlessProgram, ::testing::Values(SIGTERM, SIGINT));

// An automatic start without its database shows no message box: it logs the failure (on standard
// output when headless) and keeps trying, until a signal ends the program as the operator would.
TEST(HeadlessProgramStart, AutomaticStartWithoutTheDatabaseLogsAndKeepsTrying)
{
    krp::test::qtApp();
    QTemporaryDir dir;
    krp::test::writeAll(dir.filePath(QStringLiteral("asetukset.ini")),
                        "[Tietokanta]\nVerkkonimi=sqlite:/nonexistent-dir/erp.sqlite\n[Palvelu]\nPortti=14002\n");
    QProcess process;
    startWithoutDisplay(process, dir.path());
    QByteArray out;
    ASSERT_TRUE(krp::test::processEventsUntil([&] {
        out += process.readAllStandardOutput();
        return out.contains("Tietokantaan ei saatu yhteyttä, joten palvelua ei voitu käynnistää.") ||
               process.state() == QProcess::NotRunning;
    }));
    EXPECT_EQ(process.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_FALSE(process.readAllStandardError().contains("Palvelua ei voida"));
    EXPECT_TRUE(krp::test::readAll(dir.filePath(QStringLiteral("asetukset.ini")))
                    .contains("Verkkonimi=sqlite:/nonexistent-dir/erp.sqlite\n"));
}

// A database that opens but has no table ASETUS fails the after-connect work: the automatic start
// logs that failure, never serves, and serves within one retry (10 s) once the table is there.
TEST(HeadlessProgramStart, DatabaseWithoutItsSettingsTableIsNotServed)
{
    krp::test::qtApp();
    QTemporaryDir dir;
    krp::test::TestCertificate certificate;
    for (const char* file : {"test.pem", "test.key"})
        std::filesystem::copy_file(certificate.directory() / file,
                                   std::filesystem::path(dir.path().toStdString()) / file);
    krp::test::SqliteErp erp(dir.path());
    erp.createCatalogue();
    const quint16 port = freeLoopbackPort();
    krp::test::writeAll(
        dir.filePath(QStringLiteral("asetukset.ini")),
        QStringLiteral("[Tietokanta]\nVerkkonimi=%1\n[Palvelu]\nPortti=%2\n").arg(erp.field()).arg(port).toUtf8());
    QProcess process;
    startWithoutDisplay(process, dir.path());
    QByteArray out;
    ASSERT_TRUE(krp::test::processEventsUntil([&] {
        out += process.readAllStandardOutput();
        return out.contains("tarkistukset epäonnistuivat, joten palvelua ei käynnistetty") ||
               process.state() == QProcess::NotRunning;
    }));
    EXPECT_TRUE(out.contains("ASETUS")) << out.toStdString();  // the failure's own text
    EXPECT_FALSE(out.contains("palvelu käynnistyi"));
    EXPECT_FALSE(listens(port));

    erp.createSettingsTable(QStringLiteral("ASETUS"));
    erp.setSetting(QStringLiteral("ASETUS"), QStringLiteral("yrityksen nimi"), QStringLiteral("Routala Oy"));
    QElapsedTimer waited;
    waited.start();
    ASSERT_TRUE(krp::test::processEventsUntil(
        [&] {
            out += process.readAllStandardOutput();
            return out.contains("palvelu käynnistyi") || process.state() == QProcess::NotRunning;
        },
        30000))
        << out.toStdString();
    EXPECT_LT(waited.elapsed(), 10000 + 3000);  // within one retry
    EXPECT_TRUE(listens(port));
    EXPECT_TRUE(out.contains("caption \"Routala mobiilipalvelu - Routala Oy\""));
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0);
}

TEST(ProgramOptions, HelpAndBadOptions)
{
    krp::test::qtApp();
    QProcess help;
    help.start(QStringLiteral(KRP_PROGRAM), {QStringLiteral("--help")});
    ASSERT_TRUE(help.waitForFinished(60000));
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_TRUE(help.readAllStandardOutput().contains("--config-dir DIR"));

    QProcess bad;
    bad.start(QStringLiteral(KRP_PROGRAM), {QStringLiteral("--config-dir"), QStringLiteral("/nonexistent-dir")});
    ASSERT_TRUE(bad.waitForFinished(60000));
    EXPECT_EQ(bad.exitCode(), 2);
    EXPECT_TRUE(bad.readAllStandardError().contains("/nonexistent-dir"));
}

}  // namespace
