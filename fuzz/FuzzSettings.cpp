// A settings file as an operator may leave it: every key the program reads, read from it.
#include "host/Asetukset.h"
#include "host/IniFile.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cstdint>
#include <unistd.h>

using namespace krp;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QString directory = [] {
        const QString d = QDir::tempPath() + QStringLiteral("/krp-fuzz-asetukset-%1").arg(::getpid());
        QDir().mkpath(d);
        return d;
    }();
    {
        QFile f(asetustiedosto(directory));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    // Everything the program reads at its start, read from the file as it stands.
    const Asetukset a = lueAsetukset(directory);
    (void)rajaaTietokannanTyyppi(a.tietokannanTyyppi);
    int value = 0;
    (void)IniFile::parseInteger(a.portti, &value);
    return 0;
}
