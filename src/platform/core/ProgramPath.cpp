#include "platform/core/ProgramPath.h"

#ifdef _WIN32
#include <windows.h>
#include <iterator>
#endif

#include <system_error>

namespace krp::platform {

std::filesystem::path executableDirectory()
{
#ifdef _WIN32
    wchar_t buf[32768];
    const DWORD n = GetModuleFileNameW(nullptr, buf, static_cast<DWORD>(std::size(buf)));
    if (n == 0 || n >= std::size(buf))
        return {};
    return std::filesystem::path(std::wstring(buf, n)).parent_path();
#else
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    return exe.parent_path();
#endif
}

}  // namespace krp::platform
