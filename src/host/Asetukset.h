#pragma once
// The settings in asetukset.ini, read once when the program starts into one `Asetukset`: the
// window's fields, the database's limits, the event log, and the service's limits and readers.
// The window writes back only its own three fields (tallennaAsetukset).
#include "IniFile.h"
#include "db/ConnectionSettings.h"

#include <QString>

namespace krp {

inline constexpr const char* kAsetustiedostonNimi = "asetukset.ini";

// The service's limits, [Palvelu] keys; a missing or unusable value gives the default.
struct PalvelunRajat {
    int istuntojaEnintaan = 10'000;        // Istuntoja_enintaan: open sessions (1 or more)
    int istuntojaOsoitteesta = 1'000;      // Istuntoja_osoitteesta: of them from one client address (1 or more)
    int odottaviaKutsujaIstunnossa = 8;    // Odottavia_kutsuja_istunnossa: calls of one session waiting (0 or more)
    int pysaytyksenAikarajaSekuntia = 30;  // Pysaytyksen_aikaraja: seconds a stop waits for calls in flight (0 or more)
};

// [Rajat]: limits against hostile and careless clients. A missing key, or one below 1, gives
// the default.
struct Rajat {
    int yhteyksiaOsoitteesta = 64;  // Yhteyksia_osoitteesta: open connections per client address
    int yhteyksiaEnintaan = 4096;   // Yhteyksia_enintaan: open connections in all
    int katteluaikaS = 5;           // TLS_katteluaika_s: time to finish the TLS handshake
    int runkojenMuistiMt = 256;     // Runkojen_muisti_Mt: request bodies held at once, MiB
    int kirjautumisvirheita = 10;   // Kirjautumisvirheita_minuutissa: failures before a lock-out
    int estoEnintaanS = 900;        // Kirjautumisen_esto_enintaan_s: longest lock-out
};

// [Toistot]: the journal of keyed calls that write, which makes a repeated call safe across
// sessions and restarts.
struct Toistot {
    // Tiedosto: the journal's SQLite file. Default: toistot.sqlite in the service's state
    // directory (STATE_DIRECTORY, which systemd sets to /var/lib/krpalvelin), else beside
    // asetukset.ini.
    QString tiedosto;
    // Sailytys_tunteina: how long a key is remembered; at least 24 (a smaller value gives 24).
    int sailytysTunteina = 24;
};

struct Asetukset {
    // The directory that holds asetukset.ini and the certificate files (--config-dir, else the
    // program's directory); a relative "sqlite:" path of the database field is taken from here.
    QString hakemisto;

    QString verkkonimi;         // [Tietokanta] Verkkonimi: "host port" (or sqlite:/odbc: form)
    QString portti;             // [Palvelu] Portti, the text of the port field
    int tietokannanTyyppi = 1;  // [Palvelu] Tietokannan_tyyppi: 0 solidDB 7, 1 solidDB 100, -1 none
    bool sisaisenSelvityksenErikoiskasittely = false;  // [Palvelu] Sisaisen_selvityksen_erikoiskasittely
    // [Tietokanta] Yhteyden_aikaraja, Lauseen_aikaraja, Yhteysjonon_aikaraja: seconds, each
    // at least 1 (a missing, unreadable or smaller value gives the default).
    db::Limits aikarajat;

    // The event log. Read only; an operator sets them by editing the file.
    int lokinRivimaara = 100000;   // [Loki] Rivimaara: lines kept in the window and in memory (below 1: the default)
    QString lokihakemisto;         // [Loki] Hakemisto: directory of the daily log files; empty: no file
    int lokinSailytyspaivat = 14;  // [Loki] Sailytettavat_paivat: days of log files kept (below 1: the default)

    // The service. Read only.
    PalvelunRajat palvelunRajat;
    Rajat rajat;
    Toistot toistot;
    QString metriikanLukijat;   // [Palvelu] Metriikan_lukijat: addresses besides loopback that may read GET /metrics
    QString konsolinOsoitteet;  // [Palvelu] Konsolin_osoitteet: who may read the operator console (lueAsetukset's
                                // default "127.0.0.1 ::1"); empty: nobody
};

// The file asetukset.ini in `hakemisto`.
QString asetustiedosto(const QString& hakemisto);
// Reads asetukset.ini in `hakemisto`; a missing file or key gives the defaults above.
Asetukset lueAsetukset(const QString& hakemisto);

// Writes Verkkonimi, Portti and Tietokannan_tyyppi in this order, each at once; a failing write
// throws IniFileError and the keys after it are not written. Texts are written untrimmed.
void tallennaAsetukset(IniFile& ini, const QString& verkkonimi, const QString& portti, int tietokannanTyyppi);

// The stored type index as the radio group takes it: above 1 selects item 1, negative nothing.
int rajaaTietokannanTyyppi(int tallennettu);

}  // namespace krp
