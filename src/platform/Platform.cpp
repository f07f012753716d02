#include "Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMetaObject>

#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#ifdef _WIN32
#include <windows.h>
#include <iterator>
#else
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
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
    QString exe;
#ifdef _WIN32
    wchar_t buf[32768];
    const DWORD n = GetModuleFileNameW(nullptr, buf, static_cast<DWORD>(std::size(buf)));
    if (n > 0 && n < std::size(buf))
        exe = QString::fromWCharArray(buf, static_cast<int>(n));
#else
    exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
#endif
    if (exe.isEmpty() && QCoreApplication::instance())
        return withTrailingSeparator(QCoreApplication::applicationDirPath());
    if (exe.isEmpty())
        return withTrailingSeparator(QDir::currentPath());
    return withTrailingSeparator(QFileInfo(exe).absolutePath());
}

#ifdef _WIN32

namespace {

BOOL WINAPI consoleControlHandler(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // Runs on a thread of its own: hand the request to the main thread.
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, &runTerminationHandler, Qt::QueuedConnection);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void onTerminationRequest(std::function<void()> onTerminate)
{
    terminationHandler() = std::move(onTerminate);
    SetConsoleCtrlHandler(consoleControlHandler, TRUE);
}

#else

namespace {

// Self-pipe: the signal handler only writes one byte; the main thread's event loop reads it.
int g_pipe[2] = {-1, -1};

extern "C" void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
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

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

#endif

void raiseOpenFileLimit()
{
#ifndef _WIN32
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
#endif
}

void giveBackFreeMemory()
{
#if defined(__GLIBC__)
    // glibc keeps freed heap pages (and raises its threshold for mapping large blocks after
    // such a block is freed), so resident memory stays at the peak of a burst without this.
    malloc_trim(0);
#endif
}

}  // namespace krp::platform
