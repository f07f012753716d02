#pragma once
// The window's settings in asetukset.ini: which database, which type of it, which port.
#include "IniFile.h"

#include <QString>

namespace krp {

inline constexpr const char* kAsetustiedostonNimi = "asetukset.ini";

struct Asetukset {
    QString verkkonimi;           // [Tietokanta] Verkkonimi: "host port" (or sqlite:/odbc: form)
    QString portti;               // [Palvelu] Portti, the text of the port field
    int tietokannanTyyppi = 1;    // [Palvelu] Tietokannan_tyyppi: 0 solidDB 7, 1 solidDB 100, -1 none
    bool sisaisenSelvityksenErikoiskasittely = false;  // [Palvelu] Sisaisen_selvityksen_erikoiskasittely
};

// [Rajat]: limits against hostile and careless clients. A missing key, or one below 1, gives
// the default.
struct Rajat {
    int yhteyksiaOsoitteesta = 64;      // Yhteyksia_osoitteesta: open connections per client address
    int yhteyksiaEnintaan = 4096;       // Yhteyksia_enintaan: open connections in all
    int katteluaikaS = 5;               // TLS_katteluaika_s: time to finish the TLS handshake
    int runkojenMuistiMt = 256;         // Runkojen_muisti_Mt: request bodies held at once, MiB
    int kirjautumisvirheita = 10;       // Kirjautumisvirheita_minuutissa: failures before a lock-out
    int estoEnintaanS = 900;            // Kirjautumisen_esto_enintaan_s: longest lock-out
};

Rajat lueRajat(const IniFile& ini);

// Reads the four keys (a missing key gives the default above).
Asetukset lueAsetukset(const IniFile& ini);

// Writes Verkkonimi, Portti and Tietokannan_tyyppi in this order, each at once; a failing write
// throws IniFileError and the keys after it are not written. Texts are written untrimmed.
void tallennaAsetukset(IniFile& ini, const QString& verkkonimi, const QString& portti, int tietokannanTyyppi);

// The stored type index as the radio group takes it: above 1 selects item 1, negative nothing.
int rajaaTietokannanTyyppi(int tallennettu);

}  // namespace krp
