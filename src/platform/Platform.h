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

}  // namespace krp::platform
