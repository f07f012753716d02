#include "Asetukset.h"

#include "server/operations/ConsoleEndpoint.h"

#include <QDir>
#include <algorithm>

namespace krp {

namespace {
const QString kTietokanta = QStringLiteral("Tietokanta");
const QString kPalvelu = QStringLiteral("Palvelu");

int seconds(const IniFile& ini, const QString& key, int defaultValue)
{
    const int value = ini.readInteger(kTietokanta, key, defaultValue);
    return value >= 1 ? value : defaultValue;
}
const QString kLoki = QStringLiteral("Loki");

int positiveOr(int value, int defaultValue)
{
    return value >= 1 ? value : defaultValue;
}

// The window's fields, the database's limits and the event log.
void lueIkkunanAsetukset(const IniFile& ini, Asetukset& a)
{
    a.verkkonimi = ini.readString(kTietokanta, QStringLiteral("Verkkonimi"), QString());
    a.portti = ini.readString(kPalvelu, QStringLiteral("Portti"), QString());
    a.tietokannanTyyppi = ini.readInteger(kPalvelu, QStringLiteral("Tietokannan_tyyppi"), 1);
    a.sisaisenSelvityksenErikoiskasittely =
        ini.readBool(kPalvelu, QStringLiteral("Sisaisen_selvityksen_erikoiskasittely"), false);
    const db::Limits rajat;
    a.aikarajat.connectSeconds = seconds(ini, QStringLiteral("Yhteyden_aikaraja"), rajat.connectSeconds);
    a.aikarajat.statementSeconds = seconds(ini, QStringLiteral("Lauseen_aikaraja"), rajat.statementSeconds);
    a.aikarajat.poolWaitSeconds = seconds(ini, QStringLiteral("Yhteysjonon_aikaraja"), rajat.poolWaitSeconds);
    const Asetukset defaults;
    a.lokinRivimaara = positiveOr(ini.readInteger(kLoki, QStringLiteral("Rivimaara"), defaults.lokinRivimaara),
                                  defaults.lokinRivimaara);
    a.lokihakemisto = ini.readString(kLoki, QStringLiteral("Hakemisto"), QString());
    a.lokinSailytyspaivat =
        positiveOr(ini.readInteger(kLoki, QStringLiteral("Sailytettavat_paivat"), defaults.lokinSailytyspaivat),
                   defaults.lokinSailytyspaivat);
}

PalvelunRajat luePalvelunRajat(const IniFile& ini)
{
    PalvelunRajat r;
    const auto read = [&ini](const char* key, int defaultValue, int least) {
        const int value = ini.readInteger(kPalvelu, QString::fromLatin1(key), defaultValue);
        return value < least ? defaultValue : value;
    };
    r.istuntojaEnintaan = read("Istuntoja_enintaan", r.istuntojaEnintaan, 1);
    r.istuntojaOsoitteesta = read("Istuntoja_osoitteesta", r.istuntojaOsoitteesta, 1);
    r.odottaviaKutsujaIstunnossa = read("Odottavia_kutsuja_istunnossa", r.odottaviaKutsujaIstunnossa, 0);
    r.pysaytyksenAikarajaSekuntia = read("Pysaytyksen_aikaraja", r.pysaytyksenAikarajaSekuntia, 0);
    return r;
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

Toistot lueToistot(const IniFile& ini, const QString& configDir)
{
    const QString section = QStringLiteral("Toistot");
    Toistot t;
    t.sailytysTunteina = std::max(t.sailytysTunteina, ini.readInteger(section, QStringLiteral("Sailytys_tunteina"), 0));
    t.tiedosto = ini.readString(section, QStringLiteral("Tiedosto"), QString()).trimmed();
    if (t.tiedosto.isEmpty()) {
        // systemd lists the unit's state directories, separated by colons.
        const QString state = qEnvironmentVariable("STATE_DIRECTORY").section(QLatin1Char(':'), 0, 0);
        t.tiedosto = QDir(state.isEmpty() ? configDir : state).filePath(QStringLiteral("toistot.sqlite"));
    }
    return t;
}

}  // namespace

QString asetustiedosto(const QString& hakemisto)
{
    return QDir(hakemisto.isEmpty() ? QDir::currentPath() : hakemisto).filePath(QLatin1String(kAsetustiedostonNimi));
}

Asetukset lueAsetukset(const QString& hakemisto)
{
    const IniFile ini(asetustiedosto(hakemisto));
    Asetukset a;
    a.hakemisto = hakemisto;
    lueIkkunanAsetukset(ini, a);
    a.palvelunRajat = luePalvelunRajat(ini);
    a.rajat = lueRajat(ini);
    a.toistot = lueToistot(ini, hakemisto);
    a.metriikanLukijat = ini.readString(kPalvelu, QStringLiteral("Metriikan_lukijat"), QString());
    a.konsolinOsoitteet =
        ini.readString(kPalvelu, QStringLiteral("Konsolin_osoitteet"), QString::fromLatin1(kDefaultConsoleReaders));
    return a;
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
