#include "db/ConnectionSettings.h"

#include <QDir>
#include <QRegularExpression>

namespace krp::db {
namespace {

// The database account of the installation. solidDB installations of the ERP use the account
// the ERP itself was installed with; an installation with another one sets the environment.
constexpr const char* kDefaultUser = "dba";
constexpr const char* kDefaultPassword = "dba";

QString fromEnvironment(const char* name, const char* fallback)
{
    const QByteArray value = qgetenv(name);
    return value.isNull() ? QString::fromUtf8(fallback) : QString::fromLocal8Bit(value);
}

QString odbcValue(const QString& value)
{
    static const QRegularExpression needsBraces(QStringLiteral("[;{}]|^\\s|\\s$"));
    if (!value.contains(needsBraces))
        return value;
    QString escaped = value;
    escaped.replace(QLatin1Char('}'), QStringLiteral("}}"));
    return QLatin1Char('{') + escaped + QLatin1Char('}');
}

// A connection string shown without its password.
QString withoutPassword(const QString& connectString)
{
    static const QRegularExpression pwd(QStringLiteral("(PWD|PASSWORD)\\s*=\\s*(\\{([^}]|\\}\\})*\\}|[^;]*)"),
                                        QRegularExpression::CaseInsensitiveOption);
    QString shown = connectString;
    shown.replace(pwd, QStringLiteral("\\1=***"));
    return shown;
}

}  // namespace

QString buildOdbcConnectString(const QString& driver, const QString& user, const QString& password,
                               const QString& advanced)
{
    QString cs = QStringLiteral("DRIVER={") + QString(driver).replace(QLatin1Char('}'), QStringLiteral("}}")) +
                 QStringLiteral("};");
    if (!user.isEmpty())
        cs += QStringLiteral("UID=") + odbcValue(user) + QLatin1Char(';');
    if (!password.isEmpty())
        cs += QStringLiteral("PWD=") + odbcValue(password) + QLatin1Char(';');
    return cs + advanced;
}

QString ConnectionSettings::odbcConnectString() const
{
    switch (kind) {
    case Kind::SolidOdbc: return buildOdbcConnectString(odbcDriver, userName, password, odbcAdvanced);
    case Kind::Odbc: return odbcConnectionString;
    case Kind::Sqlite: break;
    }
    return {};
}

QString ConnectionSettings::describe() const
{
    switch (kind) {
    case Kind::SolidOdbc: return odbcDriver + QStringLiteral(", ") + odbcAdvanced;
    case Kind::Odbc: return QStringLiteral("ODBC ") + withoutPassword(odbcConnectionString);
    case Kind::Sqlite: return QStringLiteral("SQLite ") + sqlitePath;
    }
    return {};
}

ConnectionSettings parseDatabaseField(const QString& fieldText, const QString& driverName, const QString& programDir)
{
    ConnectionSettings s;
    const QString trimmed = fieldText.trimmed();
    if (trimmed.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive)) {
        s.kind = ConnectionSettings::Kind::Sqlite;
        const QString path = trimmed.mid(7);
        s.sqlitePath = path.isEmpty() ? QString() : QDir::cleanPath(QDir(programDir).absoluteFilePath(path));
        return s;
    }
    if (trimmed.startsWith(QLatin1String("odbc:"), Qt::CaseInsensitive)) {
        s.kind = ConnectionSettings::Kind::Odbc;
        s.odbcConnectionString = trimmed.mid(5);
        return s;
    }
    s.kind = ConnectionSettings::Kind::SolidOdbc;
    if (!driverName.isEmpty())
        s.odbcDriver = driverName;
    s.odbcAdvanced = QStringLiteral("DSN = tcp ") + fieldText;  // as typed, not trimmed
    s.userName = fromEnvironment("KRP_DB_USER", kDefaultUser);
    s.password = fromEnvironment("KRP_DB_PASSWORD", kDefaultPassword);
    return s;
}

}  // namespace krp::db
