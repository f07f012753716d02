// After-connect work on a real SQLite database: company name and the work-order state list.
#include "support/QtTestApp.h"
#include "SqliteErp.h"
#include "host/DatabaseConnection.h"
#include "host/Tietokantatarkistukset.h"

#include <gtest/gtest.h>

#include <optional>

using namespace krp;

namespace {

const QString kAsetus = QStringLiteral("ASETUS");
const QString kAsetukset = QStringLiteral("ASETUKSET");
const QString kLisatilat = QStringLiteral("tm lisätilat");

TEST(LisatilatTilanKanssa, ListRules)
{
    const QString tila = QStringLiteral("TYÖT OK");
    struct Case {
        QString before;
        std::optional<QString> after;
    };
    const Case cases[] = {
        {QString(), QStringLiteral("\"TYÖT OK\"")},
        {QStringLiteral("\"KESKEN\""), QStringLiteral("\"KESKEN\",\"TYÖT OK\"")},
        {QStringLiteral("\"työt ok\""), std::nullopt},
        {QStringLiteral("\"Työt OK\",\"X\""), std::nullopt},
        {QStringLiteral("\"KAIKKI TYÖT OK NYT\""), std::nullopt},  // part of a longer name
        {QStringLiteral(",\"A\""), QStringLiteral("\"A\",\"TYÖT OK\"")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lisatilatTilanKanssa(c.before, tila), c.after) << c.before.toStdString();
}

TEST(LisatilatTilanKanssa, ALongListIsNeverCutAndKeepsTheAddedState)
{
    // With or without a leading comma, a list over 1024 characters keeps all of it and ends with
    // the state just added.
    const QString pitka = QString(1100, QLatin1Char('x'));
    EXPECT_EQ(lisatilatTilanKanssa(QStringLiteral(",") + pitka, QStringLiteral("TYÖT OK")),
              pitka + QStringLiteral(",\"TYÖT OK\""));
    EXPECT_EQ(lisatilatTilanKanssa(pitka, QStringLiteral("TYÖT OK")), pitka + QStringLiteral(",\"TYÖT OK\""));
}

class AfterConnectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::qtApp();
        erp.createStandard();
    }

    // Connects the way Start does and reports the company name the window would show.
    QString connect()
    {
        DatabaseConnection connection(dir.path());
        QString yritys = QStringLiteral("<none>");
        connection.onYritys = [&](const QString& y) { yritys = y; };
        connection.open(erp.field(), 1);
        connection.close();
        return yritys;
    }

    QTemporaryDir dir;
    test::SqliteErp erp{dir.path()};
};

TEST_F(AfterConnectTest, CompanyNameGoesToTheCaption)
{
    EXPECT_EQ(connect(), QStringLiteral("Routala Oy"));
}

TEST_F(AfterConnectTest, NoCompanyRowGivesEmptyName)
{
    erp.exec({QStringLiteral("DELETE FROM ASETUS WHERE ASETUS='yrityksen nimi'")});
    EXPECT_EQ(connect(), QString());
}

TEST_F(AfterConnectTest, StateIsAddedToBothSettingsTables)
{
    struct Case {
        std::optional<QString> asetus;     // nothing: no row
        std::optional<QString> asetukset;  // nothing: no row
        std::optional<QString> asetusAfter;
        std::optional<QString> asetuksetAfter;
    };
    const Case cases[] = {
        {QString(), QString(), QStringLiteral("\"TYÖT OK\""), QStringLiteral("\"TYÖT OK\"")},
        {QStringLiteral("\"A\",\"B\""), QStringLiteral("\"työt ok\""), QStringLiteral("\"A\",\"B\",\"TYÖT OK\""),
         QStringLiteral("\"työt ok\"")},
        {QStringLiteral("\"Työt OK\""), QStringLiteral("\"C\""), QStringLiteral("\"Työt OK\""),
         QStringLiteral("\"C\",\"TYÖT OK\"")},
        {std::nullopt, std::nullopt, std::nullopt, std::nullopt},  // no rows: nothing inserted
    };
    erp.createSettingsTable(kAsetukset);
    for (const Case& c : cases) {
        erp.exec({QStringLiteral("DELETE FROM ASETUS WHERE ASETUS='tm lisätilat'"),
                  QStringLiteral("DELETE FROM ASETUKSET")});
        if (c.asetus)
            erp.setSetting(kAsetus, kLisatilat, *c.asetus);
        if (c.asetukset)
            erp.setSetting(kAsetukset, kLisatilat, *c.asetukset);
        connect();
        EXPECT_EQ(erp.setting(kAsetus, kLisatilat), c.asetusAfter);
        EXPECT_EQ(erp.setting(kAsetukset, kLisatilat), c.asetuksetAfter);
    }
}

TEST_F(AfterConnectTest, AsetuksetIsLeftAloneWhenItDoesNotExist)
{
    erp.setSetting(kAsetus, kLisatilat, QStringLiteral("\"X\""));
    connect();
    EXPECT_EQ(erp.setting(kAsetus, kLisatilat), QStringLiteral("\"X\",\"TYÖT OK\""));
}

TEST_F(AfterConnectTest, SecondConnectWritesNothingMore)
{
    erp.setSetting(kAsetus, kLisatilat, QString());
    connect();
    connect();
    EXPECT_EQ(erp.setting(kAsetus, kLisatilat), QStringLiteral("\"TYÖT OK\""));
}

TEST_F(AfterConnectTest, FailureLeavesTheConnectionOpenAndIsNotRepeated)
{
    QTemporaryDir other;
    test::SqliteErp empty(other.path());
    empty.createCatalogue();  // no ASETUS: the company name cannot be read
    DatabaseConnection connection(other.path());
    int yritysCalls = 0;
    connection.onYritys = [&](const QString&) { ++yritysCalls; };
    EXPECT_ANY_THROW(connection.open(empty.field(), 1));
    EXPECT_TRUE(connection.isOpen());
    EXPECT_NO_THROW(connection.open(empty.field(), 1));  // already open: nothing runs
    EXPECT_EQ(yritysCalls, 0);
    connection.close();
    EXPECT_FALSE(connection.isOpen());
}

TEST_F(AfterConnectTest, StatementTextsAreTheErpDialectsOwn)
{
    DatabaseConnection connection(dir.path());
    connection.open(erp.field(), 1);
    db::Query& kysely = connection.kysely();
    EXPECT_EQ(kysely.sql(), (QStringList{QStringLiteral("SELECT TABLE_NAME FROM TABLES"),
                                         QStringLiteral("WHERE TABLE_NAME='ASETUKSET'")}));
    EXPECT_EQ(HaeAsetus(kysely, QStringLiteral("yrityksen nimi")), QStringLiteral("Routala Oy"));
    EXPECT_EQ(kysely.sql(), QStringList{QStringLiteral("SELECT ARVO FROM ASETUS WHERE ASETUS=:asetus")});
    EXPECT_FALSE(kysely.isOpen());
    connection.close();
}

TEST(BeforeConnect, DriverByDatabaseType)
{
    DatabaseConnection connection(QStringLiteral("/tmp/"));
    connection.beforeConnect(QStringLiteral("palvelin 1313"), -1);
    EXPECT_EQ(connection.odbcDriver(), QStringLiteral("IBM solidDB 7.0 32-bit - (ANSI)"));
    connection.beforeConnect(QStringLiteral("palvelin 1313"), 1);
    EXPECT_EQ(connection.odbcDriver(), QStringLiteral("solidDB 100.0 32-bit - (ANSI)"));
    connection.beforeConnect(QStringLiteral("palvelin 1313"), -1);  // keeps the previous one
    EXPECT_EQ(connection.odbcDriver(), QStringLiteral("solidDB 100.0 32-bit - (ANSI)"));
    connection.beforeConnect(QStringLiteral("palvelin 1313"), 0);
    EXPECT_EQ(connection.odbcDriver(), QStringLiteral("IBM solidDB 7.0 32-bit - (ANSI)"));
    EXPECT_EQ(connection.settings().odbcDriver, QStringLiteral("IBM solidDB 7.0 32-bit - (ANSI)"));
    EXPECT_EQ(connection.settings().odbcAdvanced, QStringLiteral("DSN = tcp palvelin 1313"));
    connection.beforeConnect(QString(), 0);
    EXPECT_EQ(connection.settings().odbcAdvanced, QStringLiteral("DSN = tcp "));
}

}  // namespace
