#pragma once
// The operating system's request to stop the process, without Qt: SIGINT and SIGTERM on
// Linux, Ctrl+C, Ctrl+Break, console close, logoff and shutdown on Windows.
namespace krp::platform {

// Calls `handler` on each request. On Linux it runs inside the signal handler, so it may do
// only async-signal-safe work (write to a pipe); on Windows it runs on a thread the system
// starts for the event. Replaces an earlier handler.
void onStopRequest(void (*handler)());

}  // namespace krp::platform
