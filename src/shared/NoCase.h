#pragma once
// ASCII comparisons that ignore case, for header names, codings and URL schemes. (Beast's own
// iequals reads one byte past both texts when they differ only in case.)
#include <algorithm>
#include <string_view>

namespace krp::transport {

inline char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

inline bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace krp::transport
