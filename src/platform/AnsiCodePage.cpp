// The Qt face of the ANSI code page; the conversion itself is AnsiBytes (no Qt).
#include "platform/AnsiCodePage.h"

#include "platform/core/AnsiBytes.h"

namespace krp::platform {

QByteArray toAnsi(const QString& text)
{
    const std::string bytes = toAnsiBytes(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())));
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString fromAnsi(const QByteArray& bytes)
{
    const std::u16string text =
        fromAnsiBytes(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

QString throughAnsiCodePage(const QString& text)
{
    return fromAnsi(toAnsi(text));
}

}  // namespace krp::platform
