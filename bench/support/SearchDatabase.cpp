#include "SearchDatabase.h"

#include "BenchSetup.h"

#include <sqlite3.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace krp::bench {

namespace {

constexpr int kProducts = 100'000;
constexpr int kTypes = 1'000;  // 100 products of each type

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void exec(sqlite3* db, const std::string& sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : "unknown error";
        sqlite3_free(message);
        throw std::runtime_error("building the search database: " + text);
    }
}

int count(sqlite3* db, const std::string& sql)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
        throw std::runtime_error(std::string("counting: ") + sqlite3_errmsg(db));
    int n = 0;
    if (sqlite3_step(statement) == SQLITE_ROW)
        n = sqlite3_column_int(statement, 0);
    sqlite3_finalize(statement);
    return n;
}

}  // namespace

SearchCodes checkedSearchCodes(const std::function<int(const std::string&)>& count)
{
    SearchCodes codes;
    codes.ean = "8000000012341";  // product BP012341, which has an open line
    codes.typeCode = "BT0421";
    codes.typeCodeRows = count(
        "SELECT COUNT(DISTINCT TP_TUOTEKOODI) FROM TUOTPER JOIN OSTOTILRIV"
        " ON TP_TUOTEKOODI=OTR_TUOTEKOODI AND TP_TOIMITTAJANRO=OTR_TOIMITTAJANRO"
        " WHERE TP_TYYPPIKOODI='BT0421'");
    if (count("SELECT COUNT(*) FROM OSTOTILRIV WHERE OTR_TUOTEKOODI LIKE 'BP%'") != 30'000 ||
        count("SELECT COUNT(*) FROM TUOTPER WHERE TP_EANKOODI='" + codes.ean + "'") != 1 || codes.typeCodeRows == 0)
        throw std::runtime_error("the search database did not come out as planned");
    return codes;
}

namespace {

// The demo database of `sqlDirectory` with the benchmark's account in `file` (replaced), and
// with `products` the search's products, stock rows and order lines; the codes when built.
SearchCodes buildDatabase(const std::filesystem::path& file, const std::filesystem::path& sqlDirectory, bool products)
{
    std::filesystem::remove(file);
    sqlite3* db = nullptr;
    if (sqlite3_open(file.string().c_str(), &db) != SQLITE_OK) {
        const std::string text = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw std::runtime_error("cannot create " + file.string() + ": " + text);
    }
    try {
        exec(db, "PRAGMA journal_mode=WAL; BEGIN;");
        for (const char* name : {"schema.sql", "catalogue-sqlite.sql", "demo-data.sql"})
            exec(db, readFile(sqlDirectory / name));
        if (products) {
            // Product n: code BP000001.., supplier 301..320, EAN 8000000000001.., type BT0000..BT0999.
            exec(db,
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                     std::to_string(kProducts) +
                     ")"
                     " INSERT INTO TUOTPER (TP_TUOTEKOODI, TP_TOIMITTAJANRO, TP_NIMI, TP_EANKOODI, TP_TYYPPIKOODI,"
                     " TP_HYLLYPAIKKA, TP_YKSIKKO, TP_OSTOHINTA, TP_MYYNTIHINTA, TP_ALV)"
                     " SELECT printf('BP%06d', i), 301 + i % 20, printf('Varaosa %d, pakkaus %d kpl', i, 1 + i % 12),"
                     " printf('8%012d', i), printf('BT%04d', i % " +
                     std::to_string(kTypes) +
                     "),"
                     " printf('H%02d-%03d', i % 40, i % 500), 'KPL', 1.0 + (i % 500) / 7.0, 2.5 + (i % 500) / 5.0, 25.5"
                     " FROM n;");
            exec(db,
                 "INSERT INTO TUOTVAIH (TV_TUOTEKOODI, TV_TOIMITTAJANRO, TV_VARASTOSSA, TV_VARATTU, TV_TILATTU)"
                 " SELECT TP_TUOTEKOODI, TP_TOIMITTAJANRO, CAST(substr(TP_TUOTEKOODI, 3) AS INTEGER) % 37, 0, 0"
                 " FROM TUOTPER WHERE TP_TUOTEKOODI LIKE 'BP%';");
            // 30,000 open lines: the products whose number ends in 1, 2 or 3, on orders of 20 lines.
            exec(db,
                 "INSERT INTO OSTOTILRIV (OTR_NRO, OTR_RIVINRO, OTR_TUOTEKOODI, OTR_TOIMITTAJANRO, OTR_NIMI,"
                 " OTR_TILATTUMAARA, OTR_TOIMITETTUMAARA, OTR_PERUTETTUMAARA, OTR_OSTOHINTA, OTR_TILAUSPVM)"
                 " SELECT 900000 + (k / 20), k % 20 + 1, TP_TUOTEKOODI, TP_TOIMITTAJANRO, TP_NIMI, 10, k % 4, 0,"
                 " TP_OSTOHINTA, '2026-11-20 08:00:00'"
                 " FROM (SELECT TP_TUOTEKOODI, TP_TOIMITTAJANRO, TP_NIMI, TP_OSTOHINTA,"
                 "       ROW_NUMBER() OVER (ORDER BY TP_TUOTEKOODI) - 1 AS k"
                 "       FROM TUOTPER WHERE TP_TUOTEKOODI LIKE 'BP%'"
                 "       AND CAST(substr(TP_TUOTEKOODI, 3) AS INTEGER) % 10 IN (1, 2, 3));");
        }
        exec(db, std::string("UPDATE ASETUS SET ARVO = '") + BenchAccount::accessCode +
                     "' WHERE ASETUS = 'Mobiilisovellusten pääsykoodi';"
                     "INSERT INTO MYYJAPER (MP_KAYTTAJATUNNUS, MP_SALASANA, MP_NIMI, MP_MYYJANRO) VALUES ('" +
                     BenchAccount::user + "', '" + BenchAccount::password + "', 'Penkkipääte', 99);");
        exec(db, "COMMIT;");
        SearchCodes codes;
        if (products)
            codes = checkedSearchCodes([db](const std::string& sql) { return count(db, sql); });
        sqlite3_close(db);
        return codes;
    } catch (...) {
        sqlite3_close(db);
        throw;
    }
}

}  // namespace

void createDemoDatabase(const std::filesystem::path& file, const std::filesystem::path& sqlDirectory)
{
    buildDatabase(file, sqlDirectory, false);
}

SearchCodes createSearchDatabase(const std::filesystem::path& file, const std::filesystem::path& sqlDirectory)
{
    return buildDatabase(file, sqlDirectory, true);
}

}  // namespace krp::bench
