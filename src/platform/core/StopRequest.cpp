#include "platform/core/StopRequest.h"

#include <atomic>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#endif

namespace krp::platform {

namespace {

std::atomic<void (*)()> g_handler{nullptr};

void callHandler()
{
    if (auto* handler = g_handler.load())
        handler();
}

#ifdef _WIN32
BOOL WINAPI consoleControlHandler(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: callHandler(); return TRUE;
    default: return FALSE;
    }
}
#else
extern "C" void onSignal(int)
{
    const int saved = errno;
    callHandler();
    errno = saved;
}
#endif

}  // namespace

void onStopRequest(void (*handler)())
{
    const bool first = g_handler.exchange(handler) == nullptr;
    if (!first)
        return;  // already installed; only the handler changes
#ifdef _WIN32
    SetConsoleCtrlHandler(consoleControlHandler, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
#endif
}

}  // namespace krp::platform
