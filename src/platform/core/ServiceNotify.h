#pragma once
// Tells the service manager how the server is doing: systemd's sd_notify on Linux (readiness
// and a one-line status); nothing on Windows or when the process does not run under systemd
// (no NOTIFY_SOCKET). No Qt: safe from any thread.
#include <string_view>

namespace krp::platform {

// The server listens and serves: READY=1 with the status text.
void notifyReady(std::string_view status);
// A status line the service manager shows (systemctl status), e.g. "odottaa tietokantaa".
void notifyStatus(std::string_view status);
// The server is stopping: STOPPING=1.
void notifyStopping();

}  // namespace krp::platform
