#include "platform/core/ServiceNotify.h"

#if defined(KRP_HAVE_SYSTEMD) && !defined(_WIN32)
#include <systemd/sd-daemon.h>
#include <string>
#endif

namespace krp::platform {

#if defined(KRP_HAVE_SYSTEMD) && !defined(_WIN32)

namespace {

// sd_notify does nothing (returns 0) when NOTIFY_SOCKET is not set. Line breaks would end the
// status assignment early, so they become blanks.
void send(std::string_view prefix, std::string_view status)
{
    std::string message(prefix);
    if (!status.empty()) {
        message += "STATUS=";
        for (const char c : status)
            message += (c == '\n' || c == '\r') ? ' ' : c;
    }
    ::sd_notify(0, message.c_str());
}

}  // namespace

void notifyReady(std::string_view status)
{
    send("READY=1\n", status);
}
void notifyStatus(std::string_view status)
{
    send({}, status);
}
void notifyStopping()
{
    send("STOPPING=1\n", "pysäytetään");
}

#else

void notifyReady(std::string_view) {}
void notifyStatus(std::string_view) {}
void notifyStopping() {}

#endif

}  // namespace krp::platform
