// Windows-1252 plays the part of the ANSI code page on Linux. glibc's iconv does the work; its
// transliteration ("//TRANSLIT") gives best-fit letters, and its tables depend on the thread's
// LC_CTYPE, so the conversion runs under a fixed UTF-8 locale to give the same answer whatever
// locale the process was started with ("Łódź" -> "Lódz" needs the combining-letter tables).
#include "platform/AnsiCodePage.h"

#ifdef _WIN32
// On Windows the system's own ANSI code page does the work: WideCharToMultiByte maps what the
// code page cannot hold to a best-fit letter, or to "?".
#include <windows.h>

namespace krp::platform {

QByteArray toAnsi(const QString& text)
{
    if (text.isEmpty())
        return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.utf16());
    const int n = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    QByteArray out(n, Qt::Uninitialized);
    WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

QString fromAnsi(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, bytes.constData(), static_cast<int>(bytes.size()), nullptr, 0);
    QString out(n, Qt::Uninitialized);
    MultiByteToWideChar(CP_ACP, 0, bytes.constData(), static_cast<int>(bytes.size()),
                        reinterpret_cast<wchar_t*>(out.data()), n);
    return out;
}

QString throughAnsiCodePage(const QString& text)
{
    return fromAnsi(toAnsi(text));
}

}  // namespace krp::platform

#else

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <iconv.h>
#include <locale.h>

namespace krp::platform {
namespace {

constexpr const char* kAnsiCharset = "WINDOWS-1252";

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
QByteArray convert(const char* to, const char* from, const QByteArray& input, OnInvalid onInvalid,
                   InvalidLength invalidLength)
{
    const locale_t fixed = transliterationLocale();
    const locale_t previous = fixed ? uselocale(fixed) : static_cast<locale_t>(nullptr);

    QByteArray output;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        if (fixed)
            uselocale(previous);
        return input;  // unreachable with glibc: both charsets are built in
    }
    char* in = const_cast<char*>(input.constData());
    size_t inLeft = static_cast<size_t>(input.size());
    char buffer[1024];
    while (inLeft > 0) {
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        const size_t rc = iconv(cd, &in, &inLeft, &out, &outLeft);
        output.append(buffer, static_cast<qsizetype>(out - buffer));
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

size_t utf8SequenceLength(unsigned char lead)
{
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

}  // namespace

QByteArray toAnsi(const QString& text)
{
    return convert(
        "WINDOWS-1252//TRANSLIT", "UTF-8", text.toUtf8(),
        [](QByteArray& out, unsigned char) { out.append('?'); }, utf8SequenceLength);
}

QString fromAnsi(const QByteArray& bytes)
{
    // The five bytes that Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) come
    // back as the C1 control characters of the same number, as Windows itself maps them.
    const QByteArray utf8 = convert(
        "UTF-8", kAnsiCharset, bytes,
        [](QByteArray& out, unsigned char byte) { out.append(QString(QChar(byte)).toUtf8()); },
        [](unsigned char) { return size_t{1}; });
    return QString::fromUtf8(utf8);
}

QString throughAnsiCodePage(const QString& text)
{
    return fromAnsi(toAnsi(text));
}

}  // namespace krp::platform

#endif  // _WIN32
