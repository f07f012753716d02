// The search benchmark's rows in MariaDB, made by the server itself from its sequence tables
// (seq_1_to_N; MOD rather than %, which the ORACLE sql_mode does not take), with the same
// codes, names and numbers as the SQLite file of SearchDatabase.cpp.
#include "BenchSetup.h"
#include "SearchDatabase.h"
#include "db/Database.h"
#include "db/Query.h"

namespace krp::bench {

namespace {

void execute(db::Database& database, const std::string& sql)
{
    db::Query q(database);
    q.addLine(QString::fromStdString(sql));
    q.execute();
}

int count(db::Database& database, const std::string& sql)
{
    db::Query q(database);
    q.addLine(QString::fromStdString(sql));
    q.open();
    return static_cast<int>(q.field(0).asInteger());
}

// Product n as SearchDatabase.cpp numbers it: code BP000001.., supplier 301..320.
const char* const kCode = "CONCAT('BP', LPAD(seq, 6, '0'))";
const char* const kName = "CONCAT('Varaosa ', seq, ', pakkaus ', 1 + MOD(seq, 12), ' kpl')";

}  // namespace

SearchCodes fillOdbcSearchDatabase(const std::string& connectionString)
{
    db::ConnectionSettings settings;
    settings.kind = db::ConnectionSettings::Kind::Odbc;
    settings.odbcConnectionString = QString::fromStdString(connectionString);
    settings.limits.statementSeconds = 600;
    db::Database database;
    database.open(settings);
    for (const char* sql :
         {"DELETE FROM OSTOTILRIV WHERE OTR_TUOTEKOODI LIKE 'BP%'",
          "DELETE FROM TUOTVAIH WHERE TV_TUOTEKOODI LIKE 'BP%'", "DELETE FROM TUOTPER WHERE TP_TUOTEKOODI LIKE 'BP%'",
          "DELETE FROM KERUUOSTOTILAUS WHERE KEO_KERUUPAATEID='penkki'"})
        execute(database, sql);
    execute(database, std::string("INSERT INTO TUOTPER (TP_TUOTEKOODI, TP_TOIMITTAJANRO, TP_NIMI, TP_EANKOODI, "
                                  "TP_TYYPPIKOODI, TP_HYLLYPAIKKA, TP_YKSIKKO, TP_OSTOHINTA, TP_MYYNTIHINTA, TP_ALV) "
                                  "SELECT ") +
                          kCode + ", 301 + MOD(seq, 20), " + kName +
                          ", CONCAT('8', LPAD(seq, 12, '0')), CONCAT('BT', LPAD(MOD(seq, 1000), 4, '0')),"
                          " CONCAT('H', LPAD(MOD(seq, 40), 2, '0'), '-', LPAD(MOD(seq, 500), 3, '0')), 'KPL',"
                          " 1.0 + (MOD(seq, 500)) / 7.0, 2.5 + (MOD(seq, 500)) / 5.0, 25.5 FROM seq_1_to_100000");
    execute(database, std::string("INSERT INTO TUOTVAIH (TV_TUOTEKOODI, TV_TOIMITTAJANRO, TV_VARASTOSSA, TV_VARATTU, "
                                  "TV_TILATTU) SELECT ") +
                          kCode + ", 301 + MOD(seq, 20), MOD(seq, 37), 0, 0 FROM seq_1_to_100000");
    // 30,000 open lines: the products whose number ends in 1, 2 or 3, on orders of 20 lines.
    execute(database, std::string("INSERT INTO OSTOTILRIV (OTR_NRO, OTR_RIVINRO, OTR_TUOTEKOODI, OTR_TOIMITTAJANRO, "
                                  "OTR_NIMI, OTR_TILATTUMAARA, OTR_TOIMITETTUMAARA, OTR_PERUTETTUMAARA, "
                                  "OTR_OSTOHINTA, OTR_TILAUSPVM) "
                                  "SELECT 900000 + FLOOR(k / 20), MOD(k, 20) + 1, ") +
                          kCode + ", 301 + MOD(seq, 20), " + kName +
                          ", 10, MOD(k, 4), 0, 1.0 + (MOD(seq, 500)) / 7.0, TIMESTAMP '2026-11-20 08:00:00'"
                          " FROM (SELECT seq, ROW_NUMBER() OVER (ORDER BY seq) - 1 AS k FROM seq_1_to_100000"
                          "       WHERE MOD(seq, 10) IN (1, 2, 3)) n");
    execute(database, std::string("UPDATE ASETUS SET ARVO = '") + BenchAccount::accessCode +
                          "' WHERE ASETUS = 'Mobiilisovellusten pääsykoodi'");
    execute(database, std::string("DELETE FROM MYYJAPER WHERE MP_KAYTTAJATUNNUS = '") + BenchAccount::user + "'");
    execute(database, std::string("INSERT INTO MYYJAPER (MP_KAYTTAJATUNNUS, MP_SALASANA, MP_NIMI, MP_MYYJANRO) "
                                  "VALUES ('") +
                          BenchAccount::user + "', '" + BenchAccount::password + "', 'Penkkipääte', 99)");
    for (const char* table : {"TUOTPER", "TUOTVAIH", "OSTOTILRIV"}) {
        db::Query analyze(database);  // answers with a row per table
        analyze.addLine(QStringLiteral("ANALYZE TABLE %1").arg(QLatin1String(table)));
        analyze.open();
    }

    return checkedSearchCodes([&database](const std::string& sql) { return count(database, sql); });
}

}  // namespace krp::bench
