#pragma once
#include <QString>

namespace krp::db {

// How long the database may take, in seconds (asetukset.ini, [Tietokanta]). Each wait of the
// database layer ends at its limit with a failure that names the limit.
struct Limits {
    int connectSeconds = 10;    // Yhteyden_aikaraja: connecting and logging in
    int statementSeconds = 30;  // Lauseen_aikaraja: one statement, COMMIT included
    int poolWaitSeconds = 10;   // Yhteysjonon_aikaraja: waiting for a free pooled connection
};

// What the window's database field and type selection turn into.
//   "host port"            -> the ERP's solidDB through its ANSI ODBC driver
//   "sqlite:PATH"          -> the embedded SQLite database file
//   "odbc:CONNECTION-STR"  -> any ODBC data source, text in UTF-8
struct ConnectionSettings {
    enum class Kind { SolidOdbc, Sqlite, Odbc };
    Kind kind = Kind::SolidOdbc;

    // SolidOdbc: driver name and the advanced part ("DSN = tcp " + field text).
    QString odbcDriver = QStringLiteral("IBM solidDB 7.0 32-bit - (ANSI)");
    QString odbcAdvanced;
    QString userName;  // fixed database account of the installation
    QString password;

    QString sqlitePath;            // Sqlite: absolute path of the database file
    QString odbcConnectionString;  // Odbc: as typed after "odbc:"

    Limits limits;

    // The ODBC connection string handed to the driver manager (SolidOdbc and Odbc).
    QString odbcConnectString() const;
    // Text toward the database: true for the ANSI solidDB drivers (Windows-1252).
    bool usesAnsiCodePage() const { return kind == Kind::SolidOdbc; }
    // A short description without secrets, for messages.
    QString describe() const;
};

// The driver names of the window's database types.
inline constexpr const char* kSolidDb7Driver = "IBM solidDB 7.0 32-bit - (ANSI)";
inline constexpr const char* kSolidDb100Driver = "solidDB 100.0 32-bit - (ANSI)";

// Turns the database field's text into settings. `driverName` is the driver chosen by the
// database type; `programDir` resolves a relative sqlite path. The account comes from
// KRP_DB_USER / KRP_DB_PASSWORD when set, else the installation's compiled-in default.
ConnectionSettings parseDatabaseField(const QString& fieldText, const QString& driverName, const QString& programDir);

// The connection string an ODBC access layer builds from its parameters:
// "DRIVER={driver};UID=user;PWD=password;" followed by the advanced part as given. Values that
// hold ';', '{', '}' or surrounding blanks are enclosed in braces ('}' doubled); empty account
// values are left out.
QString buildOdbcConnectString(const QString& driver, const QString& user, const QString& password,
                               const QString& advanced);

}  // namespace krp::db
