#include "platform/core/ProcessResources.h"

#include <cstdlib>  // defines __GLIBC__ on glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace krp::platform {

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
