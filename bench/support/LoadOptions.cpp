#include "LoadOptions.h"

#include <algorithm>

namespace krp::bench {

bool takeLoadOption(LoadOptions& o, const std::string& a, const OptionValue& value)
{
    if (a == "--duration")
        o.duration = secondsValue(a, value());
    else if (a == "--warmup")
        o.warmup = secondsValue(a, value());
    else if (a == "--concurrency")
        o.concurrency = wholeNumbers(a, value());
    else if (a == "--repeat")
        o.repeat = std::max(1u, wholeNumber(a, value()));
    else if (a == "--client-threads")
        o.clientThreads = std::max(1u, wholeNumber(a, value()));
    else if (a == "--program")
        o.program = value();
    else if (a == "--nginx")
        o.nginx = value();
    else if (a == "--no-nginx")
        o.withNginx = false;
    else if (a == "--time-limit")
        o.timeLimit = std::chrono::seconds(std::max(1u, wholeNumber(a, value())));
    else
        return false;
    return true;
}

}  // namespace krp::bench
