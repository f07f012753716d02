#include "Asetukset.h"

#include "server/operations/ConsoleEndpoint.h"

#include <QDir>

namespace krp {

namespace {
const QString kTietokanta = QStringLiteral("Tietokanta");
const QString kPalvelu = QStringLiteral("Palvelu");
const QString kLoki = QStringLiteral("Loki");

// An integer key; missing, unreadable or below `least` gives `defaultValue`.
int atLeast(const IniFile& ini, const QString& section, const char* key, int defaultValue, int least = 1)
{
    const int value = ini.readInteger(section, QString::fromLatin1(key), defaultValue);
    return value < least ? defaultValue : value;
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
    a.aikarajat.connectSeconds = atLeast(ini, kTietokanta, "Yhteyden_aikaraja", rajat.connectSeconds);
    a.aikarajat.statementSeconds = atLeast(ini, kTietokanta, "Lauseen_aikaraja", rajat.statementSeconds);
    a.aikarajat.poolWaitSeconds = atLeast(ini, kTietokanta, "Yhteysjonon_aikaraja", rajat.poolWaitSeconds);
    const Asetukset defaults;
    a.lokinRivimaara = atLeast(ini, kLoki, "Rivimaara", defaults.lokinRivimaara);
    a.lokihakemisto = ini.readString(kLoki, QStringLiteral("Hakemisto"), QString());
    a.lokinSailytyspaivat = atLeast(ini, kLoki, "Sailytettavat_paivat", defaults.lokinSailytyspaivat);
}

PalvelunRajat luePalvelunRajat(const IniFile& ini)
{
    PalvelunRajat r;
    r.istuntojaEnintaan = atLeast(ini, kPalvelu, "Istuntoja_enintaan", r.istuntojaEnintaan);
    r.istuntojaOsoitteesta = atLeast(ini, kPalvelu, "Istuntoja_osoitteesta", r.istuntojaOsoitteesta);
    r.odottaviaKutsujaIstunnossa =
        atLeast(ini, kPalvelu, "Odottavia_kutsuja_istunnossa", r.odottaviaKutsujaIstunnossa, 0);
    r.pysaytyksenAikarajaSekuntia = atLeast(ini, kPalvelu, "Pysaytyksen_aikaraja", r.pysaytyksenAikarajaSekuntia, 0);
    return r;
}

Rajat lueRajat(const IniFile& ini)
{
    const QString section = QStringLiteral("Rajat");
    Rajat r;
    r.yhteyksiaOsoitteesta = atLeast(ini, section, "Yhteyksia_osoitteesta", r.yhteyksiaOsoitteesta);
    r.yhteyksiaEnintaan = atLeast(ini, section, "Yhteyksia_enintaan", r.yhteyksiaEnintaan);
    r.katteluaikaS = atLeast(ini, section, "TLS_katteluaika_s", r.katteluaikaS);
    r.runkojenMuistiMt = atLeast(ini, section, "Runkojen_muisti_Mt", r.runkojenMuistiMt);
    r.kirjautumisvirheita = atLeast(ini, section, "Kirjautumisvirheita_minuutissa", r.kirjautumisvirheita);
    r.estoEnintaanS = atLeast(ini, section, "Kirjautumisen_esto_enintaan_s", r.estoEnintaanS);
    return r;
}

Toistot lueToistot(const IniFile& ini, const QString& configDir)
{
    const QString section = QStringLiteral("Toistot");
    Toistot t;
    t.sailytysTunteina = atLeast(ini, section, "Sailytys_tunteina", t.sailytysTunteina, t.sailytysTunteina);
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
