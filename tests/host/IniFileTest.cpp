// The settings file as operators edit it by hand, the keys the program reads from it, and the
// service's options made of them.
#include "TempDir.h"
#include "host/Asetukset.h"
#include "host/IniFile.h"
#include "host/ServerContainerService.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileDevice>

using namespace krp;
using test::readAll;
using test::writeAll;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    QString path() const { return dir.filePath(QStringLiteral("asetukset.ini")); }
    IniFile ini() const { return IniFile(path()); }
    QTemporaryDir dir;
};

TEST_F(IniFileTest, SemicolonInsideAValueIsData)
{
    writeAll(path(), "[Tietokanta]\nVerkkonimi=odbc:DRIVER={MariaDB};SERVER=127.0.0.1;DB=krp\n");
    EXPECT_EQ(ini().readString("Tietokanta", "Verkkonimi", "x"),
              QStringLiteral("odbc:DRIVER={MariaDB};SERVER=127.0.0.1;DB=krp"));
}

TEST_F(IniFileTest, SectionsAndKeysMatchWithoutRegardToCase)
{
    writeAll(path(), "[PALVELU]\nportti = 14002 \n");
    EXPECT_EQ(ini().readString("Palvelu", "Portti", "x"), QStringLiteral("14002"));
    IniFile f = ini();
    f.writeString("palvelu", "PORTTI", "15000");
    EXPECT_EQ(readAll(path()), QByteArray("[PALVELU]\nportti=15000\n"));
}

TEST_F(IniFileTest, WriteChangesOnlyItsOwnLine)
{
    const QByteArray before =
        "; KRPalvelin asetukset\r\n"
        "[Tietokanta]\r\n"
        "# käsin lisätty huomautus\r\n"
        "Verkkonimi=vanha 1313\r\n"
        "Muu=arvo\r\n"
        "\r\n"
        "[Palvelu]\r\n"
        "Portti=14002\r\n";
    writeAll(path(), before);
    IniFile f = ini();
    f.writeString("Tietokanta", "Verkkonimi", "uusi 1315");
    QByteArray expected = before;
    expected.replace("vanha 1313", "uusi 1315");
    EXPECT_EQ(readAll(path()), expected);
}

TEST_F(IniFileTest, NewKeyGoesToTheEndOfItsSectionAndNewSectionToTheEndOfTheFile)
{
    writeAll(path(), "[Palvelu]\nPortti=1\n; Tietokanta seuraa\n\n[Tietokanta]\nVerkkonimi=a 1\n");
    IniFile f = ini();
    f.writeInteger("Palvelu", "Tietokannan_tyyppi", 0);
    f.writeString("Uusi", "Avain", "x;y");
    EXPECT_EQ(readAll(path()),
              QByteArray("[Palvelu]\nPortti=1\nTietokannan_tyyppi=0\n; Tietokanta seuraa\n\n[Tietokanta]\n"
                         "Verkkonimi=a 1\n\n[Uusi]\nAvain=x;y\n"));
}

TEST_F(IniFileTest, EachWriteReachesTheFileAtOnce)
{
    IniFile f = ini();
    f.writeString("Palvelu", "Portti", "1");
    EXPECT_EQ(readAll(path()), QByteArray("[Palvelu]\nPortti=1\n"));
    // Hand edits between writes are kept, because every write starts from the file as it is.
    writeAll(path(), "[Palvelu]\nPortti=1\nKasin=2\n");
    f.writeString("Palvelu", "Portti", "3");
    EXPECT_EQ(readAll(path()), QByteArray("[Palvelu]\nPortti=3\nKasin=2\n"));
}

TEST_F(IniFileTest, IntegerRules)
{
    writeAll(path(),
             "[A]\ndec=42\nneg=-3\nhex=0x1F\nHEX=0X10\nbad=12abc\nempty=\nspace= 7 \nhexbad=0xZZ\nbig=99999999999\n"
             "dollar=$10\nhexall=0xFFFFFFFF\n");
    const IniFile f = ini();
    EXPECT_EQ(f.readInteger("A", "dec", 9), 42);
    EXPECT_EQ(f.readInteger("A", "neg", 9), -3);
    EXPECT_EQ(f.readInteger("A", "hex", 9), 31);
    EXPECT_EQ(f.readInteger("A", "hexall", 9), -1);
    EXPECT_EQ(f.readInteger("A", "bad", 9), 9);
    EXPECT_EQ(f.readInteger("A", "empty", 9), 9);
    EXPECT_EQ(f.readInteger("A", "space", 9), 7);
    EXPECT_EQ(f.readInteger("A", "hexbad", 9), 9);
    EXPECT_EQ(f.readInteger("A", "big", 9), 9);
    EXPECT_EQ(f.readInteger("A", "dollar", 9), 9);
    EXPECT_EQ(f.readInteger("A", "missing", 9), 9);
}

TEST_F(IniFileTest, BooleanIsAnInteger)
{
    writeAll(path(), "[B]\nzero=0\none=1\nminus=-1\nhex=0x2\ntext=true\n");
    const IniFile f = ini();
    EXPECT_FALSE(f.readBool("B", "zero", true));
    EXPECT_TRUE(f.readBool("B", "one", false));
    EXPECT_TRUE(f.readBool("B", "minus", false));
    EXPECT_TRUE(f.readBool("B", "hex", false));
    EXPECT_FALSE(f.readBool("B", "text", false));  // not a number: the default
    EXPECT_TRUE(f.readBool("B", "text", true));
}

TEST_F(IniFileTest, Utf8WithAndWithoutByteOrderMark)
{
    writeAll(path(), "\xEF\xBB\xBF[Tietokanta]\nVerkkonimi=tietokantapalvelin-ä 1313\n");
    IniFile f = ini();
    EXPECT_EQ(f.readString("Tietokanta", "Verkkonimi", ""), QStringLiteral("tietokantapalvelin-ä 1313"));
    f.writeString("Tietokanta", "Verkkonimi", "öljy 1");
    EXPECT_EQ(readAll(path()), QByteArray("\xEF\xBB\xBF[Tietokanta]\nVerkkonimi=öljy 1\n"));
}

TEST_F(IniFileTest, FirstSectionAndFirstKeyCount)
{
    writeAll(path(), "[S]\nk=1\nk=2\n[s]\nk=3\nj=4\n");
    const IniFile f = ini();
    EXPECT_EQ(f.readString("S", "k", ""), QStringLiteral("1"));
    EXPECT_EQ(f.readString("S", "j", "none"), QStringLiteral("none"));
}

TEST_F(IniFileTest, FileWithoutFinalLineBreakStaysSo)
{
    writeAll(path(), "[S]\nk=1\n[T]\nm=2");
    IniFile f = ini();
    f.writeString("S", "k", "9");
    EXPECT_EQ(readAll(path()), QByteArray("[S]\nk=9\n[T]\nm=2"));
}

TEST_F(IniFileTest, ValueIsWrittenUntrimmed)
{
    IniFile f = ini();
    f.writeString("S", "k", "  tila  ");
    EXPECT_EQ(readAll(path()), QByteArray("[S]\nk=  tila  \n"));
}

TEST_F(IniFileTest, FailingWriteNamesTheFile)
{
    // A directory where the file should be cannot be written as a file.
    QDir(dir.path()).mkdir(QStringLiteral("asetukset.ini"));
    IniFile f = ini();
    try {
        f.writeString("Palvelu", "Portti", "1");
        FAIL() << "no error";
    } catch (const IniFileError& e) {
        EXPECT_NE(QString::fromUtf8(e.what()).indexOf(QDir::toNativeSeparators(path())), -1) << e.what();
    }
}

TEST_F(IniFileTest, LineBreakInAValueIsRefused)
{
    IniFile f = ini();
    EXPECT_THROW(f.writeString("S", "k", "a\nb=c"), IniFileError);
    EXPECT_FALSE(QFile::exists(path()));
}

// The window's keys.

TEST_F(IniFileTest, MissingFileGivesEmptyFieldsSolidDb100AndNoSpecialHandling)
{
    const Asetukset a = lueAsetukset(dir.path());
    EXPECT_EQ(a.verkkonimi, QString());
    EXPECT_EQ(a.portti, QString());
    EXPECT_EQ(a.tietokannanTyyppi, 1);
    EXPECT_FALSE(a.sisaisenSelvityksenErikoiskasittely);
}

TEST_F(IniFileTest, SavingWritesTheThreeKeysInOrder)
{
    IniFile f = ini();
    tallennaAsetukset(f, QStringLiteral(" palvelin 1313 "), QStringLiteral("14002"), -1);
    EXPECT_EQ(readAll(path()), QByteArray("[Tietokanta]\nVerkkonimi= palvelin 1313 \n\n[Palvelu]\nPortti=14002\n"
                                          "Tietokannan_tyyppi=-1\n"));
}

TEST_F(IniFileTest, SpecialHandlingFlagIsReadNeverWritten)
{
    writeAll(path(), "[Palvelu]\nSisaisen_selvityksen_erikoiskasittely=0x1\n");
    EXPECT_TRUE(lueAsetukset(dir.path()).sisaisenSelvityksenErikoiskasittely);
    IniFile f = ini();
    tallennaAsetukset(f, QString(), QString(), 1);
    EXPECT_TRUE(readAll(path()).contains("Sisaisen_selvityksen_erikoiskasittely=0x1"));
}

TEST_F(IniFileTest, DatabaseLimitsAreReadWithWorkingDefaults)
{
    struct Case {
        const char* text;
        int connect, statement, poolWait;
    };
    const Case cases[] = {
        {"", 10, 30, 10},
        {"[Tietokanta]\nYhteyden_aikaraja=3\nLauseen_aikaraja=5\nYhteysjonon_aikaraja=7\n", 3, 5, 7},
        {"[Tietokanta]\nYhteyden_aikaraja=0\nLauseen_aikaraja=-4\nYhteysjonon_aikaraja=x\n", 10, 30, 10},
    };
    for (const Case& c : cases) {
        writeAll(path(), c.text);
        const db::Limits l = lueAsetukset(dir.path()).aikarajat;
        EXPECT_EQ(l.connectSeconds, c.connect) << c.text;
        EXPECT_EQ(l.statementSeconds, c.statement) << c.text;
        EXPECT_EQ(l.poolWaitSeconds, c.poolWait) << c.text;
    }
}

TEST_F(IniFileTest, EventLogKeysWithTheirDefaults)
{
    struct Case {
        const char* text;
        int rivimaara;
        const char* hakemisto;
        int paivat;
    };
    const Case cases[] = {
        {"", 100000, "", 14},
        {"[Loki]\nRivimaara=5000\nHakemisto=/var/log/krp\nSailytettavat_paivat=30\n", 5000, "/var/log/krp", 30},
        {"[Loki]\nRivimaara=0\nSailytettavat_paivat=-2\n", 100000, "", 14},
        {"[Loki]\nRivimaara=paljon\nSailytettavat_paivat=viikko\n", 100000, "", 14},
    };
    for (const Case& c : cases) {
        writeAll(path(), c.text);
        const Asetukset a = lueAsetukset(dir.path());
        EXPECT_EQ(a.lokinRivimaara, c.rivimaara) << c.text;
        EXPECT_EQ(a.lokihakemisto, QString::fromUtf8(c.hakemisto)) << c.text;
        EXPECT_EQ(a.lokinSailytyspaivat, c.paivat) << c.text;
    }
}

TEST(TietokannanTyyppi, StoredIndexIsClampedForTheRadioGroup)
{
    const std::pair<int, int> cases[] = {{5, 1}, {2, 1}, {1, 1}, {0, 0}, {-1, -1}, {-3, -1}};
    for (auto [stored, applied] : cases)
        EXPECT_EQ(rajaaTietokannanTyyppi(stored), applied) << stored;
}

}  // namespace

namespace {

TEST_F(IniFileTest, TheJournalOfKeyedCallsLivesInTheStateDirectoryAndKeepsAtLeastADay)
{
    const QString configDir = dir.path();
    struct Case {
        const char* text;
        const char* stateDirectory;  // nullptr: not set
        QString file;
        int hours;
    };
    const Case cases[] = {
        {"", nullptr, QDir(configDir).filePath(QStringLiteral("toistot.sqlite")), 24},
        {"", "/var/lib/krpalvelin", QStringLiteral("/var/lib/krpalvelin/toistot.sqlite"), 24},
        {"", "/var/lib/krpalvelin:/var/lib/muu", QStringLiteral("/var/lib/krpalvelin/toistot.sqlite"), 24},
        {"[Toistot]\nTiedosto=/srv/krp/toistot.db\nSailytys_tunteina=72\n", "/var/lib/krpalvelin",
         QStringLiteral("/srv/krp/toistot.db"), 72},
        {"[Toistot]\nSailytys_tunteina=2\n", nullptr, QDir(configDir).filePath(QStringLiteral("toistot.sqlite")), 24},
        {"[Toistot]\nSailytys_tunteina=paljon\n", nullptr, QDir(configDir).filePath(QStringLiteral("toistot.sqlite")),
         24},
    };
    for (const Case& c : cases) {
        writeAll(path(), c.text);
        if (c.stateDirectory)
            qputenv("STATE_DIRECTORY", c.stateDirectory);
        else
            qunsetenv("STATE_DIRECTORY");
        const Toistot t = lueAsetukset(configDir).toistot;
        EXPECT_EQ(t.tiedosto, c.file) << c.text << " " << (c.stateDirectory ? c.stateDirectory : "");
        EXPECT_EQ(t.sailytysTunteina, c.hours) << c.text;
    }
    qunsetenv("STATE_DIRECTORY");
}

// Every key of the service reaches the container's options; an unusable value gives the
// default, and an empty console list turns the console off.
TEST_F(IniFileTest, TheServiceOptionsAreMadeOfTheSettingsWithWorkingDefaults)
{
    struct Case {
        const char* text;
        std::size_t sessions, perAddress, waiting;
        long long stopS;
        std::size_t connections, connectionsPerAddress;
        long long handshakeS;
        std::size_t bodyMiB;
        unsigned failures;
        long long lockS;
        std::vector<std::string> metrics, console;
    };
    const Case cases[] = {
        {"", 10000, 1000, 8, 30, 4096, 64, 5, 256, 10, 900, {}, {"127.0.0.1", "::1"}},
        {"[Palvelu]\nIstuntoja_enintaan=50\nIstuntoja_osoitteesta=5\nOdottavia_kutsuja_istunnossa=0\n"
         "Pysaytyksen_aikaraja=0\nMetriikan_lukijat=10.0.0.5 10.0.0.6\nKonsolin_osoitteet=\n"
         "[Rajat]\nYhteyksia_osoitteesta=3\nYhteyksia_enintaan=100\nTLS_katteluaika_s=2\nRunkojen_muisti_Mt=16\n"
         "Kirjautumisvirheita_minuutissa=4\nKirjautumisen_esto_enintaan_s=60\n",
         50,
         5,
         0,
         0,
         100,
         3,
         2,
         16,
         4,
         60,
         {"10.0.0.5", "10.0.0.6"},
         {}},
        {"[Palvelu]\nIstuntoja_enintaan=0\nIstuntoja_osoitteesta=x\nOdottavia_kutsuja_istunnossa=-1\n"
         "Pysaytyksen_aikaraja=-5\nKonsolin_osoitteet=192.168.1.9\n"
         "[Rajat]\nYhteyksia_osoitteesta=0\nYhteyksia_enintaan=-2\nTLS_katteluaika_s=x\nRunkojen_muisti_Mt=0\n"
         "Kirjautumisvirheita_minuutissa=0\nKirjautumisen_esto_enintaan_s=0\n",
         10000,
         1000,
         8,
         30,
         4096,
         64,
         5,
         256,
         10,
         900,
         {},
         {"192.168.1.9"}},
    };
    for (const Case& c : cases) {
        writeAll(path(), c.text);
        const ServerContainerOptions o = containerOptions(lueAsetukset(dir.path()));
        EXPECT_EQ(o.maxSessions, c.sessions) << c.text;
        EXPECT_EQ(o.maxSessionsPerAddress, c.perAddress) << c.text;
        EXPECT_EQ(o.maxWaitingCalls, c.waiting) << c.text;
        EXPECT_EQ(o.stopDeadline, std::chrono::seconds(c.stopS)) << c.text;
        EXPECT_EQ(o.maxConnections, c.connections) << c.text;
        EXPECT_EQ(o.maxConnectionsPerAddress, c.connectionsPerAddress) << c.text;
        EXPECT_EQ(o.handshakeTimeout, std::chrono::seconds(c.handshakeS)) << c.text;
        EXPECT_EQ(o.maxBodyMemoryBytes, c.bodyMiB * 1024 * 1024) << c.text;
        EXPECT_EQ(o.loginThrottle.failures, c.failures) << c.text;
        EXPECT_EQ(o.loginThrottle.longestLock, std::chrono::seconds(c.lockS)) << c.text;
        EXPECT_EQ(o.metricsReaders, c.metrics) << c.text;
        EXPECT_EQ(o.consoleReaders, c.console) << c.text;
        EXPECT_EQ(o.keyedCallsKeptFor, std::chrono::hours(24)) << c.text;
    }
}

}  // namespace
