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
    static const QString path = QDir::tempPath() + QStringLiteral("/krp-fuzz-asetukset-%1.ini").arg(::getpid());
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    IniFile ini(path);
    const Asetukset a = lueAsetukset(ini);
    (void)rajaaTietokannanTyyppi(a.tietokannanTyyppi);
    (void)lueRajat(ini);
    (void)ini.readString(QStringLiteral("Palvelu"), QStringLiteral("Portti"), QString());
    int value = 0;
    (void)IniFile::parseInteger(a.portti, &value);
    return 0;
}
