#include "db/ConnectionSettings.h"

#include <gtest/gtest.h>

#include <QDir>

using namespace krp::db;

namespace {

class EnvironmentGuard {
public:
    EnvironmentGuard()
    {
        qunsetenv("KRP_DB_USER");
        qunsetenv("KRP_DB_PASSWORD");
    }
    ~EnvironmentGuard()
    {
        qunsetenv("KRP_DB_USER");
        qunsetenv("KRP_DB_PASSWORD");
    }
};

TEST(ConnectionSettingsTest, HostAndPortGoToSolidDbAsTypedWithTheChosenDriver)
{
    EnvironmentGuard env;
    const auto s = parseDatabaseField(QStringLiteral(" erp-palvelin 1964 "), kSolidDb100Driver, "/opt/krp/");
    EXPECT_EQ(s.kind, ConnectionSettings::Kind::SolidOdbc);
    EXPECT_EQ(s.odbcDriver, "solidDB 100.0 32-bit - (ANSI)");
    EXPECT_EQ(s.odbcAdvanced, "DSN = tcp  erp-palvelin 1964 ");  // not trimmed
    EXPECT_TRUE(s.usesAnsiCodePage());
    EXPECT_EQ(s.odbcConnectString(),
              "DRIVER={solidDB 100.0 32-bit - (ANSI)};UID=dba;PWD=dba;DSN = tcp  erp-palvelin 1964 ");
}

TEST(ConnectionSettingsTest, EmptyFieldStillGivesTheTcpPrefixAndNoDriverKeepsThePreset)
{
    EnvironmentGuard env;
    const auto s = parseDatabaseField(QString(), QString(), "/opt/krp/");
    EXPECT_EQ(s.kind, ConnectionSettings::Kind::SolidOdbc);
    EXPECT_EQ(s.odbcAdvanced, "DSN = tcp ");
    EXPECT_EQ(s.odbcDriver, "IBM solidDB 7.0 32-bit - (ANSI)");
}

TEST(ConnectionSettingsTest, AccountComesFromTheEnvironmentWhenSet)
{
    EnvironmentGuard env;
    qputenv("KRP_DB_USER", "erp");
    qputenv("KRP_DB_PASSWORD", "sala;sana}");
    const auto s = parseDatabaseField(QStringLiteral("db 1313"), kSolidDb7Driver, "/opt/krp/");
    EXPECT_EQ(s.userName, "erp");
    EXPECT_EQ(s.odbcConnectString(),
              "DRIVER={IBM solidDB 7.0 32-bit - (ANSI)};UID=erp;PWD={sala;sana}}};DSN = tcp db 1313");
    EXPECT_FALSE(s.describe().contains("sala"));
}

TEST(ConnectionSettingsTest, BuildsTheConnectStringTheWayTheAccessLayerDoes)
{
    EXPECT_EQ(buildOdbcConnectString("D", "u", "p", "X=1"), "DRIVER={D};UID=u;PWD=p;X=1");
    EXPECT_EQ(buildOdbcConnectString("D", "", "", "X=1"), "DRIVER={D};X=1");
    EXPECT_EQ(buildOdbcConnectString("D", " u", "p", ""), "DRIVER={D};UID={ u};PWD=p;");
}

TEST(ConnectionSettingsTest, SqlitePathIsTakenFromTheProgramDirectoryWhenRelative)
{
    const auto relative = parseDatabaseField(QStringLiteral("sqlite:data/demo.db"), QString(), "/opt/krp/");
    EXPECT_EQ(relative.kind, ConnectionSettings::Kind::Sqlite);
    EXPECT_EQ(relative.sqlitePath, "/opt/krp/data/demo.db");
    EXPECT_FALSE(relative.usesAnsiCodePage());

    const auto absolute = parseDatabaseField(QStringLiteral("  sqlite:/var/lib/krp/erp.db"), QString(), "/opt/krp/");
    EXPECT_EQ(absolute.sqlitePath, "/var/lib/krp/erp.db");
}

TEST(ConnectionSettingsTest, OdbcConnectionStringIsUsedAsItStandsInUtf8)
{
    const auto s = parseDatabaseField(QStringLiteral("odbc:DRIVER={MariaDB Unicode};SERVER=127.0.0.1;PWD=x"),
                                      kSolidDb7Driver, "/opt/krp/");
    EXPECT_EQ(s.kind, ConnectionSettings::Kind::Odbc);
    EXPECT_EQ(s.odbcConnectString(), "DRIVER={MariaDB Unicode};SERVER=127.0.0.1;PWD=x");
    EXPECT_FALSE(s.usesAnsiCodePage());
    EXPECT_FALSE(s.describe().contains("PWD=x"));
}

}  // namespace
