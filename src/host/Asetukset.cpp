#include "Asetukset.h"

namespace krp {

namespace {
const QString kTietokanta = QStringLiteral("Tietokanta");
const QString kPalvelu = QStringLiteral("Palvelu");
const QString kLoki = QStringLiteral("Loki");

int positiveOr(int value, int defaultValue) { return value >= 1 ? value : defaultValue; }
}  // namespace

Asetukset lueAsetukset(const IniFile& ini)
{
    Asetukset a;
    a.verkkonimi = ini.readString(kTietokanta, QStringLiteral("Verkkonimi"), QString());
    a.portti = ini.readString(kPalvelu, QStringLiteral("Portti"), QString());
    a.tietokannanTyyppi = ini.readInteger(kPalvelu, QStringLiteral("Tietokannan_tyyppi"), 1);
    a.sisaisenSelvityksenErikoiskasittely =
        ini.readBool(kPalvelu, QStringLiteral("Sisaisen_selvityksen_erikoiskasittely"), false);
    const Asetukset defaults;
    a.lokinRivimaara = positiveOr(ini.readInteger(kLoki, QStringLiteral("Rivimaara"), defaults.lokinRivimaara),
                                  defaults.lokinRivimaara);
    a.lokihakemisto = ini.readString(kLoki, QStringLiteral("Hakemisto"), QString());
    a.lokinSailytyspaivat = positiveOr(
        ini.readInteger(kLoki, QStringLiteral("Sailytettavat_paivat"), defaults.lokinSailytyspaivat),
        defaults.lokinSailytyspaivat);
    return a;
}

PalvelunRajat luePalvelunRajat(const IniFile& ini)
{
    PalvelunRajat r;
    const auto read = [&ini](const char* key, int defaultValue, int least) {
        const int value = ini.readInteger(kPalvelu, QString::fromLatin1(key), defaultValue);
        return value < least ? defaultValue : value;
    };
    r.istuntojaEnintaan = read("Istuntoja_enintaan", r.istuntojaEnintaan, 1);
    r.odottaviaKutsujaIstunnossa = read("Odottavia_kutsuja_istunnossa", r.odottaviaKutsujaIstunnossa, 0);
    r.pysaytyksenAikarajaSekuntia = read("Pysaytyksen_aikaraja", r.pysaytyksenAikarajaSekuntia, 0);
    return r;
}

void tallennaAsetukset(IniFile& ini, const QString& verkkonimi, const QString& portti, int tietokannanTyyppi)
{
    ini.writeString(kTietokanta, QStringLiteral("Verkkonimi"), verkkonimi);
    ini.writeString(kPalvelu, QStringLiteral("Portti"), portti);
    ini.writeInteger(kPalvelu, QStringLiteral("Tietokannan_tyyppi"), tietokannanTyyppi);
}

int rajaaTietokannanTyyppi(int tallennettu)
{
    if (tallennettu > 1)
        return 1;
    if (tallennettu < 0)
        return -1;
    return tallennettu;
}

}  // namespace krp
