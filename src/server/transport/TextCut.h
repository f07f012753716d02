#pragma once
// Texts a client sent, repeated in an answer or a log line: cut at a number of characters
// with "…", so that a client cannot make the server repeat megabytes. Header only.
#include <cstddef>
#include <string>
#include <string_view>

namespace krp::transport {

inline constexpr std::size_t kClientTextMaxChars = 200;

// `text` (UTF-8) up to `maxChars` characters, and "…" when more followed. Cuts between
// characters, never inside one; bytes that are not UTF-8 count one each.
inline std::string cutClientText(std::string_view text, std::size_t maxChars = kClientTextMaxChars)
{
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++chars) {
        if (chars == maxChars)
            return std::string(text.substr(0, i)) + "\xE2\x80\xA6";
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            ++i;
    }
    return std::string(text);
}

}  // namespace krp::transport
