#include "platform/core/AnsiBytes.h"

#ifdef _WIN32
// The system's own ANSI code page does the work: WideCharToMultiByte maps what the code page
// cannot hold to a best-fit letter, or to "?".
#include <windows.h>

namespace krp::platform {

std::string toAnsiBytes(std::u16string_view text)
{
    if (text.empty())
        return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, length, out.data(), n, nullptr, nullptr);
    return out;
}

std::u16string fromAnsiBytes(std::string_view bytes)
{
    if (bytes.empty())
        return {};
    const int length = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, reinterpret_cast<wchar_t*>(out.data()), n);
    return out;
}

}  // namespace krp::platform

#else
// Windows-1252 plays the part of the ANSI code page. glibc's iconv does the work; its
// transliteration ("//TRANSLIT") gives best-fit letters, and its tables depend on the thread's
// LC_CTYPE, so the conversion runs under a fixed UTF-8 locale to give the same answer whatever
// locale the process was started with ("Łódź" -> "Lódz" needs the combining-letter tables).
#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <locale.h>

namespace krp::platform {
namespace {

// The locale under which iconv transliterates; created once, never freed.
locale_t transliterationLocale()
{
    static const locale_t locale = [] {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
            if (locale_t l = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr)))
                return l;
        }
        return static_cast<locale_t>(nullptr);
    }();
    return locale;
}

// Runs `iconv` over all of `input`. A sequence it cannot convert is replaced by what
// `onInvalid` appends, after skipping `invalidLength(first byte)` input bytes.
template <typename OnInvalid, typename InvalidLength>
std::string convert(const char* to, const char* from, std::string_view input, OnInvalid onInvalid,
                    InvalidLength invalidLength)
{
    const locale_t fixed = transliterationLocale();
    const locale_t previous = fixed ? uselocale(fixed) : static_cast<locale_t>(nullptr);

    std::string output;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        if (fixed)
            uselocale(previous);
        return std::string(input);  // unreachable with glibc: both charsets are built in
    }
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char buffer[1024];
    while (inLeft > 0) {
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        const size_t rc = iconv(cd, &in, &inLeft, &out, &outLeft);
        output.append(buffer, static_cast<size_t>(out - buffer));
        if (rc != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ (not convertible) or EINVAL (cut short at the end).
        onInvalid(output, static_cast<unsigned char>(*in));
        const size_t skip = std::min(inLeft, invalidLength(static_cast<unsigned char>(*in)));
        in += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
    }
    iconv_close(cd);
    if (fixed)
        uselocale(previous);
    return output;
}

size_t utf16UnitLength(unsigned char)
{
    return 2;
}

void appendUtf16(std::string& out, char16_t unit)
{
    // UTF-16LE, as convert() below asks iconv for.
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
}

// The five characters that stand for the bytes Windows-1252 leaves undefined (see
// fromAnsiBytes) go back to those bytes, as on Windows; iconv would make them "?".
bool isUndefinedByteCharacter(char16_t c)
{
    return c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

std::string toWindows1252(std::u16string_view text)
{
    const std::string_view units(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    // An unpaired surrogate is one unit that does not convert.
    return convert(
        "WINDOWS-1252//TRANSLIT", "UTF-16LE", units, [](std::string& out, unsigned char) { out.push_back('?'); },
        utf16UnitLength);
}

}  // namespace

std::string toAnsiBytes(std::u16string_view text)
{
    std::string out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isUndefinedByteCharacter(text[i]))
            continue;
        out += toWindows1252(text.substr(start, i - start));
        if (i < text.size())
            out.push_back(static_cast<char>(text[i]));
        start = i + 1;
    }
    return out;
}

std::u16string fromAnsiBytes(std::string_view bytes)
{
    // The five bytes that Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) come
    // back as the C1 control characters of the same number, as Windows itself maps them.
    const std::string utf16 = convert(
        "UTF-16LE", "WINDOWS-1252", bytes,
        [](std::string& out, unsigned char byte) { appendUtf16(out, static_cast<char16_t>(byte)); },
        [](unsigned char) { return size_t{1}; });
    std::u16string out(utf16.size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(utf16[2 * i]) |
                                       (static_cast<unsigned char>(utf16[2 * i + 1]) << 8));
    return out;
}

}  // namespace krp::platform

#endif  // _WIN32
