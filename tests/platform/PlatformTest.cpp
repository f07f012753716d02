// The platform seam: the program's directory and termination requests.
#include "support/QtTestApp.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>

#include <csignal>
#include <thread>

namespace {

TEST(Platform, ProgramDirectoryHoldsTheExecutable)
{
    krp::test::qtApp();
    const QString dir = krp::platform::programDirectory();
    EXPECT_TRUE(dir.endsWith(QLatin1Char('/')));
    EXPECT_EQ(QFileInfo(dir).canonicalFilePath(),
              QFileInfo(QCoreApplication::applicationDirPath()).canonicalFilePath());
}

TEST(Platform, TerminationSignalReachesTheMainThread)
{
    krp::test::qtApp();
    int calls = 0;
    QThread* ranOn = nullptr;
    krp::platform::onTerminationRequest([&] {
        ++calls;
        ranOn = QThread::currentThread();
    });
    // Delivered from another thread, as a signal may arrive on any thread.
    std::thread sender([] { ::kill(::getpid(), SIGTERM); });
    sender.join();
    ASSERT_TRUE(krp::test::processEventsUntil([&] { return calls == 1; }));
    EXPECT_EQ(ranOn, QCoreApplication::instance()->thread());
    ::raise(SIGINT);
    ASSERT_TRUE(krp::test::processEventsUntil([&] { return calls == 2; }));
}

}  // namespace
