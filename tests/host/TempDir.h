#pragma once
// Small file helpers over a temporary directory of one test.
#include <QFile>
#include <QTemporaryDir>

namespace krp::test {

inline QByteArray readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

inline void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

}  // namespace krp::test
