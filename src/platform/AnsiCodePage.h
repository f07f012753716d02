#pragma once
// The server machine's 8-bit ANSI code page (Windows-1252 where the platform has none).
// Characters it cannot hold become a best-fit letter ("Łódź" -> "Lódz") or "?".
#include <QByteArray>
#include <QString>

namespace krp::platform {

QByteArray toAnsi(const QString& text);
QString fromAnsi(const QByteArray& bytes);
// Converts to the code page and back: what a name stored through an ANSI driver becomes.
QString throughAnsiCodePage(const QString& text);

}  // namespace krp::platform
