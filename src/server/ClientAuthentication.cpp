#include "server/ClientAuthentication.h"

#include "db/Query.h"
#include "log/ClientText.h"
#include "log/EventLog.h"
#include "types/UTyypit.h"

#include <QHash>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

namespace krp {

namespace {

// Equal in constant time whatever the lengths: both sides are hashed first.
bool constantTimeEquals(const QString& a, const QString& b)
{
    const QByteArray ua = a.toUtf8();
    const QByteArray ub = b.toUtf8();
    // The digest's implementation is looked up once: OpenSSL's one-shot SHA256() looks it up
    // (with its locks) on every call.
    static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    unsigned char da[SHA256_DIGEST_LENGTH];
    unsigned char dbuf[SHA256_DIGEST_LENGTH];
    if (!sha256 || EVP_Digest(ua.constData(), static_cast<size_t>(ua.size()), da, nullptr, sha256, nullptr) != 1 ||
        EVP_Digest(ub.constData(), static_cast<size_t>(ub.size()), dbuf, nullptr, sha256, nullptr) != 1)
        return false;
    return CRYPTO_memcmp(da, dbuf, sizeof da) == 0 && ua.size() == ub.size();
}

QString readSetting(db::Query& q, const QString& name)
{
    q.clearSql();
    q.addLine(QStringLiteral("SELECT ARVO FROM ASETUS WHERE ASETUS=:asetus"));
    q.param(QStringLiteral("asetus")).setText(name);
    q.open();
    QString value = q.eof() ? QString() : q.fieldByName(QStringLiteral("ARVO")).asText();
    q.close();
    return value;
}

}  // namespace

bool fixedCredentialsMatch(const QString& user, const QString& password)
{
    const bool userOk = constantTimeEquals(user, QString::fromLatin1(types::PALVELIMEN_KAYTTAJATUNNUS));
    const bool passwordOk = constantTimeEquals(password, QString::fromLatin1(types::PALVELIMEN_SALASANA));
    return userOk && passwordOk;
}

bool DSAuthenticationManager1UserAuthenticate(const QString& user, const QString& password)
{
    const bool valid = fixedCredentialsMatch(user, password);
    appendStampedLineLocked(valid ? QStringLiteral("OnUserAuthenticate: OK")
                                  : QStringLiteral("OnUserAuthenticate: Virheelliset kirjautumistiedot"));
    return valid;
}

void DSServer1Connect(const ConnectProperties& p, const ChannelInfo& channel, db::Database& database)
{
    TekstiLokiin(QStringLiteral("Saatiin sovellukselta \"") + logSafe(p.sovellus) +
                 QStringLiteral("\" yhteyspyyntö osoitteesta ") + channel.clientAddress +
                 QStringLiteral(". Protokolla: ") + logSafe(channel.protocol));
    try {
        // A query of this opening's own: its statements lease a pooled connection, so openings
        // run side by side and none waits for another's database statement.
        db::Query kysely(database);
        TarkistaPaasykoodi(kysely, p.saatu_paasykoodi);
        TarkistaOhjelmanKirjautumistiedot(kysely, p.saatu_kayttajatunnus, p.saatu_salasana);
    } catch (const db::Error& e) {
        if (!e.isUnavailable())
            throw;
        appendStampedLineLocked(QStringLiteral("Yhteyspyyntöä ei voitu tarkistaa, koska tietokanta ei vastaa: ") +
                                QString::fromUtf8(e.what()));
        throw DatabaseUnavailable(e.what());
    }
}

void TarkistaPaasykoodi(db::Query& kysely, const QString& saatu_paasykoodi)
{
    const QString paasykoodi = readSetting(kysely, QStringLiteral("Mobiilisovellusten pääsykoodi"));
    if (paasykoodi.isEmpty())
        throw ServerMisconfigured(
            QStringLiteral("Mobiilisovellusten pääsykoodi on asettamatta normaalin ohjelman puolella."));
    if (paasykoodi.size() < 20)
        throw ServerMisconfigured(
            QStringLiteral("Mobiilisovellusten pääsykoodi on liian lyhyt. Korjaa se normaalin ohjelman puolella."));
    QHash<QChar, int> Merkit;
    bool muoto_ei_kelpaa = false;
    for (QChar c : paasykoodi) {
        if (++Merkit[c] > 4)
            muoto_ei_kelpaa = true;
    }
    if (muoto_ei_kelpaa)
        throw ServerMisconfigured(QStringLiteral(
            "Mobiilisovellusten pääsykoodi sisältää liikaa samoja merkkejä. Korjaa se normaalin ohjelman puolella."));
    if (!constantTimeEquals(paasykoodi, saatu_paasykoodi))
        throw ConnectRefused(QStringLiteral("Virheellinen pääsykoodi"));
}

void TarkistaOhjelmanKirjautumistiedot(db::Query& kysely, const QString& saatu_kayttajatunnus,
                                       const QString& saatu_salasana)
{
    kysely.clearSql();
    kysely.addLine(QStringLiteral("SELECT MP_SALASANA FROM MYYJAPER"));
    kysely.addLine(QStringLiteral("WHERE MP_KAYTTAJATUNNUS=:kt"));
    kysely.param(QStringLiteral("kt")).setText(saatu_kayttajatunnus);
    kysely.open();
    const bool ok =
        !kysely.eof() && constantTimeEquals(kysely.fieldByName(QStringLiteral("MP_SALASANA")).asText(), saatu_salasana);
    kysely.close();
    if (ok) {
        appendStampedLineLocked(QStringLiteral("Kirjautuminen ohjelman tunnuksella onnistui."));
        return;
    }
    appendStampedLineLocked(QStringLiteral("Kirjautuminen ohjelman tunnuksella EPÄONNISTUI."));
    throw ConnectRefused(QStringLiteral("Virheellinen ohjelman käyttäjätunnus tai salasana."));
}

}  // namespace krp
