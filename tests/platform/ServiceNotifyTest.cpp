// The service manager's notifications: a datagram socket plays systemd. (On Windows they do
// nothing; the cross build only compiles them.)
#include "platform/core/ServiceNotify.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {

#ifndef _WIN32
TEST(ServiceNotify, MessagesReachTheSocketNamedByNotifySocket)
{
    char dir[] = "/tmp/krp-notify-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/notify";
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    path.copy(a.sun_path, sizeof a.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::setenv("NOTIFY_SOCKET", path.c_str(), 1);

    const auto next = [fd] {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1)
            return std::string();
        char buf[512];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    };
    krp::platform::notifyStatus("odottaa tietokantaa");
    EXPECT_EQ(next(), "STATUS=odottaa tietokantaa");
    krp::platform::notifyReady("palvelee");
    EXPECT_EQ(next(), "READY=1\nSTATUS=palvelee");
    krp::platform::notifyStatus("kaksi\nriviä");  // a line break would end the assignment
    EXPECT_EQ(next(), "STATUS=kaksi riviä");

    ::unsetenv("NOTIFY_SOCKET");
    ::close(fd);
    ::unlink(path.c_str());
    ::rmdir(dir);
}
#endif

}  // namespace
