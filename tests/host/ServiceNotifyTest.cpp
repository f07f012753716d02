// The program under a service manager: with NOTIFY_SOCKET set it reports "odottaa
// tietokantaa" while it opens the database, READY=1 with "palvelee" only once it listens, and
// STOPPING=1 when asked to stop. The test plays systemd's part with a datagram socket.
#include "support/QtTestApp.h"
#include "TestCertificate.h"

#include "client/transport/HttpsClient.h"
#include "support/TestDatabases.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

namespace {

// A free TCP port on loopback, as the kernel hands one out.
std::uint16_t freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

class NotifySocket {
public:
    explicit NotifySocket(std::string path) : path_(std::move(path))
    {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        path_.copy(a.sun_path, sizeof a.sun_path - 1);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~NotifySocket()
    {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    bool bound() const { return bound_; }
    const std::string& path() const { return path_; }

    // The next message, or the empty text when none comes within `limit`.
    std::string next(std::chrono::milliseconds limit)
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limit.count())) != 1)
            return {};
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    }

private:
    std::string path_;
    int fd_ = -1;
    bool bound_ = false;
};

TEST(ServiceNotify, StatusWhileOpeningTheDatabaseReadyOnlyWhenListeningStoppingAtTheEnd)
{
    krp::test::qtApp();
    krp::test::TestCertificate certificate;  // its directory also holds asetukset.ini
    krp::test::TestDatabase erp(krp::test::Backend::Sqlite, krp::test::Content::DemoData);
    const std::uint16_t port = freePort();
    certificate.writeFile("asetukset.ini",
                          "[Tietokanta]\nVerkkonimi=sqlite:" + erp.settings().sqlitePath.toStdString() +
                              "\n[Palvelu]\nPortti=" + std::to_string(port) + "\n");
    NotifySocket notify((certificate.directory() / "notify.sock").string());
    ASSERT_TRUE(notify.bound());

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("NOTIFY_SOCKET"), QString::fromStdString(notify.path()));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KRP_PROGRAM),
                  {QStringLiteral("--config-dir"), QString::fromStdString(certificate.directory().string())});
    ASSERT_TRUE(program.waitForStarted());

    std::vector<std::string> messages;
    for (int i = 0; i < 10; ++i) {
        messages.push_back(notify.next(std::chrono::seconds(60)));
        if (messages.back().empty() || messages.back().find("READY=1") != std::string::npos)
            break;
    }
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front(), "STATUS=odottaa tietokantaa");
    ASSERT_EQ(messages.back(), "READY=1\nSTATUS=palvelee") << program.readAllStandardError().toStdString();

    // Ready means listening: the very next request is served.
    krp::client::HttpsClientOptions o;
    o.port = port;
    krp::client::HttpsClient http(o);
    EXPECT_EQ(http.request("GET", "/api/v1/health").status, 200);

    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    EXPECT_EQ(notify.next(std::chrono::seconds(60)), "STOPPING=1\nSTATUS=pysäytetään");
    ASSERT_TRUE(program.waitForFinished(60000));
    EXPECT_EQ(program.exitCode(), 0);
}

}  // namespace
