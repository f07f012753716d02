#include "methods/ServerMethodsUnit1.h"

namespace krp {

namespace {

const QStringList& tuotteenOTrivitSql()
{
    static const QStringList sql = {
        QStringLiteral(
            "SELECT (IFNULL(OTR_TILATTUMAARA,0)-IFNULL(OTR_TOIMITETTUMAARA,0)-IFNULL(OTR_PERUTETTUMAARA,0)) "),
        QStringLiteral("-(SELECT IFNULL(SUM(KEO_KERATTYMAARA),0) FROM KERUUOSTOTILAUS"),
        QStringLiteral("WHERE KEO_OSTOTILAUSNRO=OTR_NRO "),
        QStringLiteral("AND KEO_TUOTEKOODI=:tk AND KEO_TOIMITTAJANRO=:tn"),
        QStringLiteral("AND (KEO_JATKOKASITELTY<'2000-1-1' OR KEO_JATKOKASITELTY IS NULL))"),
        QString(),
        QStringLiteral("AVOINNA"),
        QString(),
        QStringLiteral(",OSTOTILRIV.*,TP_EANKOODI,TP_TYYPPIKOODI,TP_HYLLYPAIKKA "),
        QStringLiteral("FROM OSTOTILRIV "),
        QStringLiteral("LEFT JOIN TUOTPER ON OTR_TUOTEKOODI=TP_TUOTEKOODI AND OTR_TOIMITTAJANRO=TP_TOIMITTAJANRO"),
        QStringLiteral("WHERE OTR_TUOTEKOODI=:tk AND OTR_TOIMITTAJANRO=:tn"),
        QStringLiteral("AND "),
        QStringLiteral("("),
        QStringLiteral("(IFNULL(OTR_TILATTUMAARA,0)-IFNULL(OTR_TOIMITETTUMAARA,0)-IFNULL(OTR_PERUTETTUMAARA,0))"),
        QStringLiteral("-(SELECT IFNULL(SUM(KEO_KERATTYMAARA),0) FROM KERUUOSTOTILAUS"),
        QStringLiteral("WHERE KEO_OSTOTILAUSNRO=OTR_NRO "),
        QStringLiteral("AND KEO_TUOTEKOODI=:tk AND KEO_TOIMITTAJANRO=:tn"),
        QStringLiteral("AND (KEO_JATKOKASITELTY<'2000-1-1' OR KEO_JATKOKASITELTY IS NULL))"),
        QString(),
        QStringLiteral(">0"),
        QStringLiteral(")"),
    };
    return sql;
}

const QStringList& varastoontulorivinLisaysSql()
{
    static const QStringList sql = {
        QStringLiteral("INSERT INTO KERUUOSTOTILAUS"),
        QStringLiteral(
            "(KEO_ID, KEO_OSTOTILAUSNRO, KEO_TILAUSRIVINRO, KEO_TOIMITTAJANRO, KEO_TUOTEKOODI, KEO_SAAPUVAMAARA, "
            "KEO_KERATTYMAARA, KEO_KASITELTY, KEO_JATKOKASITELTY, KEO_KERUUPAATEID, KEO_TILA)"),
        QStringLiteral("VALUES "),
        QStringLiteral("(:id,:ostotilausnro ,:tilausrivinro ,:toimittajanro ,:tuotekoodi,:saapuvamaara ,:kerattymaara "
                       ",null ,null ,:keruupaateid, :tila)"),
    };
    return sql;
}

const QStringList& kerailyrivinLisaysSql()
{
    static const QStringList sql = {
        QStringLiteral("INSERT INTO KERUUTUOTTEET"),
        QStringLiteral("(KTU_ID, KTU_TOIMITTAJANRO, KTU_TUOTEKOODI, KTU_MAARA,"),
        QStringLiteral(" KTU_KASITELTY, KTU_JATKOKASITELTY, KTU_KERUUPAATEID,  KTU_SARJANRO, KTU_ASIAKASNRO)"),
        QStringLiteral("VALUES "),
        QStringLiteral("(:id,:toimittajanro ,:tuotekoodi ,:maara , Now(), null , :keruupaateid, null, :asiakasnro)"),
    };
    return sql;
}

const QStringList& tuotettaVarastoonkirjausjonossaSql()
{
    static const QStringList sql = {
        QStringLiteral("SELECT SUM(KEO_KERATTYMAARA) FROM KERUUOSTOTILAUS"),
        QStringLiteral("WHERE KEO_OSTOTILAUSNRO=:otnro "),
        QStringLiteral("AND KEO_TUOTEKOODI=:tk AND KEO_TOIMITTAJANRO=:tn"),
        QStringLiteral("AND (KEO_JATKOKASITELTY<'2000-1-1' OR KEO_JATKOKASITELTY IS NULL)"),
    };
    return sql;
}

const QStringList& inventointirivinLisaysSql()
{
    static const QStringList sql = {
        QStringLiteral("INSERT INTO KERUUINVENTOINTI"),
        QStringLiteral("(KEI_ID, KEI_TOIMITTAJANRO, KEI_TUOTEKOODI, KEI_VANHAMAARA, KEI_UUSIMAARA, KEI_LUOTU, "
                       "KEI_KASITELTY, KEI_JATKOKASITELTY, KEI_KERUUPAATEID, KEI_TILA)"),
        QStringLiteral("VALUES "),
        QStringLiteral("(:id,:toimittajanro ,:tuotekoodi ,:vanha_varastosaldo , :uusi_varastosaldo, Now(), Now(), "
                       "null, :keruupaateid, null)"),
    };
    return sql;
}

const QStringList& tuotemuutosrivinLisaysSql()
{
    static const QStringList sql = {
        QStringLiteral("INSERT INTO KERUUTUOTEMUUTOS"),
        QStringLiteral("(KTM_ID, KTM_TOIMITTAJANRO, KTM_TUOTEKOODI, KTM_UUSI_EAN, KTM_UUSIHYLLY, KTM_UUSIHALY, "
                       "KTM_UUSIOPTIMI,  KTM_JATKOKASITELTY, KTM_UUSINIMI)"),
        QStringLiteral("VALUES "),
        QStringLiteral(
            "(:id,:toimittajanro ,:tuotekoodi ,:eankoodi ,:hyllypaikka,:halytysraja ,:optimivarasto ,null, :nimi)"),
    };
    return sql;
}

const QStringList& asiakashakuSql()
{
    static const QStringList sql = {
        QStringLiteral("SELECT "
                       "AP_ASIAKASNRO,AP_NIMI,AP_GSM,AP_GSMSUUNTA,AP_LISATIEDOT,AP_YRITYS,AP_KATUOSOITE,AP_POSTINUMERO,"
                       "AP_POSTITOIMIPAIKKA,AP_POSTIOSOITE"),
        QStringLiteral("FROM ASIAKPER"),
        QStringLiteral("WHERE UPPER(AP_NIMI) LIKE :nimihaku AND ROWNUM<100"),
    };
    return sql;
}

}  // namespace

TServerMethods1::TServerMethods1(ServiceContext& context)
    : context_(context), db_(*context.database), FDKysely(db_), FDKysely2(db_), sqlTuotetiedot(db_),
      sqlTuotetyypinTuotteet(db_), sqlTuotelista(db_), sqlTuotteenOTrivit(db_), sqlVarastoontulorivinLisays(db_),
      sqlTuotemuutosrivinLisays(db_), sqlKerailyrivinLisays(db_), sqlTuotettaVarastoonkirjausjonossa(db_),
      sqlInventointirivinLisays(db_), sqlAsiakashaku(db_), sqlTyomaarayshaku(db_), sqlYleinen(db_), sqlTyovaihehaku(db_)
{
    // Statements fixed for the module's whole life; methods only bind and run them. Every
    // session's module shares their text and its parsed form.
    static const QStringList asiakasperSql = {QStringLiteral("SELECT * FROM ASIAKPER WHERE AP_ASIAKASNRO<100")};
    FDKysely2.setSql(asiakasperSql);
    sqlTuotteenOTrivit.setSql(tuotteenOTrivitSql());
    sqlVarastoontulorivinLisays.setSql(varastoontulorivinLisaysSql());
    sqlKerailyrivinLisays.setSql(kerailyrivinLisaysSql());
    sqlTuotettaVarastoonkirjausjonossa.setSql(tuotettaVarastoonkirjausjonossaSql());
    sqlInventointirivinLisays.setSql(inventointirivinLisaysSql());
    sqlTuotemuutosrivinLisays.setSql(tuotemuutosrivinLisaysSql());
    sqlAsiakashaku.setSql(asiakashakuSql());
}

bool TServerMethods1::TarkistaKayttooikeus(const QString& /*sovellusavain*/, const QString& kayttajatunnus,
                                           const QString& salasana)
{
    FKayttajatunnus = kayttajatunnus;
    FSalasana = salasana;
    return true;
}

void TServerMethods1::Ping(const QString& sovellus, const QString& clientid)
{
    if (context_.ping)
        context_.ping(sovellus, clientid);
}

void TServerMethods1::SovellusSuljetaan(const QString& sovellus, const QString& clientid)
{
    if (context_.sovellusSuljetaan)
        context_.sovellusSuljetaan(sovellus, clientid);
}

namespace {

struct ProviderEntry {
    const char* name;
    db::Query TServerMethods1::*query;
};

const ProviderEntry kProviders[] = {
    {"dspKysely", &TServerMethods1::FDKysely},
    {"DSP", &TServerMethods1::FDKysely},
    {"dspKysely2", &TServerMethods1::FDKysely2},
    {"dspTuotetiedot", &TServerMethods1::sqlTuotetiedot},
    {"dspTuotetyypinTuotteet", &TServerMethods1::sqlTuotetyypinTuotteet},
    {"dspTuotelista", &TServerMethods1::sqlTuotelista},
    {"dspTuotteenOTrivit", &TServerMethods1::sqlTuotteenOTrivit},
    {"dspAsiakkaat", &TServerMethods1::sqlAsiakashaku},
    {"dspTyomaarayshaku", &TServerMethods1::sqlTyomaarayshaku},
    {"dspTyovaihehaku", &TServerMethods1::sqlTyovaihehaku},
};

}  // namespace

db::Query* TServerMethods1::provider(const QString& name)
{
    for (const ProviderEntry& e : kProviders) {
        if (name == QLatin1String(e.name))
            return &(this->*e.query);
    }
    return nullptr;
}

std::vector<std::string> TServerMethods1::providerNames()
{
    std::vector<std::string> names;
    for (const ProviderEntry& e : kProviders)
        names.emplace_back(e.name);
    return names;
}

}  // namespace krp
