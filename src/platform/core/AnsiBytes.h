#pragma once
// The server machine's 8-bit ANSI code page without Qt: UTF-16 text to code-page bytes and
// back. Windows uses its own ANSI code page (WideCharToMultiByte, best-fit letters); Linux plays
// it with Windows-1252 through glibc's iconv. Characters the code page cannot hold become a
// best-fit letter ("Łódź" -> "Lódz") or "?".
#include <string>
#include <string_view>

namespace krp::platform {

std::string toAnsiBytes(std::u16string_view text);
std::u16string fromAnsiBytes(std::string_view bytes);

}  // namespace krp::platform
