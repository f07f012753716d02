#pragma once
// The one place where the ERP's SQL dialect meets SQLite. Statements are written for the ERP
// database (solidDB) and run unchanged on MariaDB; on SQLite they pass through here first.
//
// Text rewrites (translate), applied outside quoted literals and comments:
//   - ROWNUM<n / ROWNUM<=n as a condition of the outermost statement: the condition becomes
//     "1=1" and the statement gets "LIMIT n-1" / "LIMIT n" at its end. Any other use of ROWNUM
//     is refused with an Error naming it.
//   - Date literals written 'Y-M-D' or 'Y-M-D H:M[:S]' (e.g. '2000-1-1') become
//     'YYYY-MM-DD' / 'YYYY-MM-DD HH:MM:SS', the form in which date-times are stored, so they
//     compare correctly as text.
//
// Functions registered on every connection (registerFunctions):
//   - NOW() (also written Now()): the local date and time as 'YYYY-MM-DD HH:MM:SS'.
//   - UPPER(x), LOWER(x): full Unicode case mapping (SQLite's own only maps ASCII), so
//     UPPER('jäähdytin') = 'JÄÄHDYTIN' as on the ERP database.
//
// Native in SQLite and left alone: IFNULL, LIKE (made case-sensitive with PRAGMA
// case_sensitive_like, as on the ERP database), "expr ALIAS" without AS. The catalogue TABLES
// is a view in the schema (db/catalogue-sqlite.sql).
#include <QString>

struct sqlite3;

namespace krp::db::sqlite {

QString translate(const QString& sql);
void registerFunctions(sqlite3* db);

// Date-times are stored and read as text in this form.
inline constexpr const char* kDateTimeFormat = "yyyy-MM-dd HH:mm:ss";

}  // namespace krp::db::sqlite
