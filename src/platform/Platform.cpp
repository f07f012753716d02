#include "Platform.h"

#include "platform/core/ProgramPath.h"
#include "platform/core/StopRequest.h"

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>

#ifndef _WIN32
#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace krp::platform {

namespace {

QString withTrailingSeparator(const QString& dir)
{
    if (dir.isEmpty() || dir.endsWith(QLatin1Char('/')))
        return dir;
    return dir + QLatin1Char('/');
}

std::function<void()>& terminationHandler()
{
    static std::function<void()> handler;
    return handler;
}

void runTerminationHandler()
{
    if (terminationHandler())
        terminationHandler()();
}

}  // namespace

QString programDirectory()
{
    const std::filesystem::path dir = executableDirectory();
    if (!dir.empty())
        return withTrailingSeparator(QDir::fromNativeSeparators(QString::fromStdU16String(dir.u16string())));
    if (QCoreApplication::instance())
        return withTrailingSeparator(QCoreApplication::applicationDirPath());
    return withTrailingSeparator(QDir::currentPath());
}

#ifdef _WIN32

void onTerminationRequest(std::function<void()> onTerminate)
{
    terminationHandler() = std::move(onTerminate);
    // The console handler runs on a thread of its own: hand the request to the main thread.
    onStopRequest([] {
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, &runTerminationHandler, Qt::QueuedConnection);
    });
}

#else

namespace {

// Self-pipe: the signal handler only writes one byte; the main thread's event loop reads it.
int g_pipe[2] = {-1, -1};

void writeWakeByte()
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
}

}  // namespace

void onTerminationRequest(std::function<void()> onTerminate)
{
    terminationHandler() = std::move(onTerminate);
    if (g_pipe[0] >= 0)
        return;  // already installed; only the handler changes
    if (::pipe(g_pipe) != 0)
        return;
    for (int fd : g_pipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char buf[64];
        bool requested = false;
        while (::read(g_pipe[0], buf, sizeof buf) > 0)
            requested = true;
        if (requested)
            runTerminationHandler();
    });
    onStopRequest(&writeWakeByte);
}

#endif

}  // namespace krp::platform
