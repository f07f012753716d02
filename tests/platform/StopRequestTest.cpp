// A stop request from the system reaches the handler: a signal on Linux, a console event on
// Windows.
#include "platform/core/StopRequest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#endif

namespace {

std::atomic<int> g_requests{0};

bool waitForRequests(int count)
{
    for (int i = 0; i < 500 && g_requests.load() < count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return g_requests.load() >= count;
}

#ifdef _WIN32
bool underWine()
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
#endif

TEST(StopRequest, ReachesTheHandler)
{
    krp::platform::onStopRequest([] { g_requests.fetch_add(1); });
#ifdef _WIN32
    if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0) || !waitForRequests(1)) {
        if (underWine())
            GTEST_SKIP() << "Wine delivers no console control event to this process";
        FAIL() << "the console control event did not arrive";
    }
#else
    ::raise(SIGTERM);
    ASSERT_TRUE(waitForRequests(1));
    ::raise(SIGINT);
    ASSERT_TRUE(waitForRequests(2));
#endif
}

}  // namespace
