#include "Asetukset.h"

namespace krp {

namespace {
const QString kTietokanta = QStringLiteral("Tietokanta");
const QString kPalvelu = QStringLiteral("Palvelu");
}  // namespace

Asetukset lueAsetukset(const IniFile& ini)
{
    Asetukset a;
    a.verkkonimi = ini.readString(kTietokanta, QStringLiteral("Verkkonimi"), QString());
    a.portti = ini.readString(kPalvelu, QStringLiteral("Portti"), QString());
    a.tietokannanTyyppi = ini.readInteger(kPalvelu, QStringLiteral("Tietokannan_tyyppi"), 1);
    a.sisaisenSelvityksenErikoiskasittely =
        ini.readBool(kPalvelu, QStringLiteral("Sisaisen_selvityksen_erikoiskasittely"), false);
    return a;
}

Rajat lueRajat(const IniFile& ini)
{
    const QString section = QStringLiteral("Rajat");
    Rajat r;
    const auto read = [&](const char* key, int& value) {
        const int stored = ini.readInteger(section, QString::fromLatin1(key), value);
        if (stored >= 1)
            value = stored;
    };
    read("Yhteyksia_osoitteesta", r.yhteyksiaOsoitteesta);
    read("Yhteyksia_enintaan", r.yhteyksiaEnintaan);
    read("TLS_katteluaika_s", r.katteluaikaS);
    read("Runkojen_muisti_Mt", r.runkojenMuistiMt);
    read("Kirjautumisvirheita_minuutissa", r.kirjautumisvirheita);
    read("Kirjautumisen_esto_enintaan_s", r.estoEnintaanS);
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
