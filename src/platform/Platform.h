#pragma once
// The small seam for what differs between Linux and Windows hosts.
#include <QString>
#include <functional>

namespace krp::platform {

// Directory of the running executable, with a trailing separator.
QString programDirectory();

// Calls `onTerminate` on the main thread when the process is asked to stop (SIGINT, SIGTERM;
// console close on Windows). Needs a running Qt event loop; install once.
void onTerminationRequest(std::function<void()> onTerminate);

// Raises the soft limit of open files to the hard limit, so that the service's connection
// limits (thousands) are not cut short by the usual soft limit of 1024. Nothing on Windows.
void raiseOpenFileLimit();

// Hands memory that the process has freed back to the operating system, where the allocator
// keeps it otherwise (after a burst of large request bodies). Any thread.
void giveBackFreeMemory();

}  // namespace krp::platform
