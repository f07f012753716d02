// The main window: controls, settings, captions, start and stop, enabling, event log view.
#include "support/QtTestApp.h"
#include "SqliteErp.h"
#include "TempDir.h"
#include "host/FKRPalvelin.h"
#include "host/MessageBox.h"
#include "host/RadioGroup.h"
#include "host/RemoteService.h"
#include "log/EventLog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextBlock>

#include <memory>
#include <thread>

using namespace krp;
using test::readAll;
using test::writeAll;

namespace {

class FakeRemoteService : public RemoteService {
public:
    bool isStarted() const override { return started; }
    void start(int port) override
    {
        if (failWith)
            throw std::runtime_error(failWith);
        ports.push_back(port);
        started = true;
    }
    void stop() override
    {
        ++stops;
        started = false;
    }
    bool started = false;
    const char* failWith = nullptr;
    std::vector<int> ports;
    int stops = 0;
};

struct ShownBox {
    QString title;
    QString text;
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::qtApp<QApplication>();
        EventLog::setInstance(&log);
        setMessageBoxHandler([this](const QString& title, const QString& text, MessageBoxIcon) {
            boxes.push_back({title, text});
        });
    }
    void TearDown() override
    {
        window.reset();
        setMessageBoxHandler({});
        EventLog::setInstance(nullptr);
    }

    QString iniPath() const { return dir.filePath(QStringLiteral("asetukset.ini")); }

    TfrmKRPalvelin& create()
    {
        window = std::make_unique<TfrmKRPalvelin>(lueAsetukset(dir.path()));
        window->setRemoteService(&service);
        return *window;
    }

    // Settings of a reachable database on the given port text.
    void writeSettings(const QString& portti, int tyyppi = 1)
    {
        writeAll(iniPath(), QStringLiteral("[Tietokanta]\nVerkkonimi=%1\n[Palvelu]\nPortti=%2\nTietokannan_tyyppi=%3\n")
                                .arg(erp.field(), portti)
                                .arg(tyyppi)
                                .toUtf8());
    }

    template <class T>
    T* child(const char* name)
    {
        return window->findChild<T*>(QString::fromLatin1(name));
    }

    QTemporaryDir dir;
    test::SqliteErp erp{dir.path()};
    EventLog log;
    FakeRemoteService service;
    std::vector<ShownBox> boxes;
    std::unique_ptr<TfrmKRPalvelin> window;
};

// Lets the event loop run dry and wait, which is the idle moment, until a timer wakes it.
void runUntilIdle()
{
    QApplication::processEvents();
    QTimer::singleShot(1, [] {});
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

const QString kStartFailure = QStringLiteral(
    "Valittuun tietokantaan ei saatu yhdistettyä. Palvelua ei voida\r\n"
    "käynnistää. Virhe:\r\n");

TEST_F(WindowTest, ControlsWithNamesCaptionsAndPlaces)
{
    TfrmKRPalvelin& w = create();
    struct Control {
        const char* name;
        const char* caption;
        int left, top, width, height;  // width/height 0: sized by its text
    };
    const Control controls[] = {
        {"butKaynnista", "Käynnistä", 24, 8, 75, 25},
        {"butPysayta", "Pysäytä", 105, 8, 75, 25},
        {"Label1", "Tietokanta", 32, 41, 0, 0},
        {"cbxTietokanta", nullptr, 105, 39, 201, 0},
        {"labPortti", "Portti", 32, 69, 0, 0},
        {"edPortti", nullptr, 105, 66, 57, 0},
        {"butTallennaAsetukset", "Tallenna asetukset", 191, 64, 115, 25},
        {"rbgTietokannanTyyppi", "Tietokannan tyyppi", 336, 8, 113, 90},
        {"labYhteyksiaO", "Kairanet yhteyksiä", 480, 27, 0, 0},
        {"labKairanetYhteyksia", "0", 617, 27, 0, 0},
        {"memYhteydet", "", 0, 110, 668, 174},
        {"memYhteysnakyma", "", 0, 284, 668, 174},
    };
    for (const Control& c : controls) {
        QWidget* widget = child<QWidget>(c.name);
        ASSERT_NE(widget, nullptr) << c.name;
        EXPECT_EQ(widget->pos(), QPoint(c.left, c.top)) << c.name;
        if (c.width) {
            EXPECT_EQ(widget->width(), c.width) << c.name;
        }
        if (c.height) {
            EXPECT_EQ(widget->height(), c.height) << c.name;
        }
        if (!c.caption)
            continue;
        QString caption;
        if (auto* b = qobject_cast<QPushButton*>(widget))
            caption = b->text();
        else if (auto* l = qobject_cast<QLabel*>(widget))
            caption = l->text();
        else if (auto* g = qobject_cast<QGroupBox*>(widget))
            caption = g->title();
        else if (auto* m = qobject_cast<QPlainTextEdit*>(widget))
            caption = m->toPlainText();
        else if (auto* v = dynamic_cast<EventLogView*>(widget))
            caption = v->toPlainText();
        EXPECT_EQ(caption, QString::fromUtf8(c.caption)) << c.name;
    }
    EXPECT_EQ(w.size(), QSize(668, 458));
    EXPECT_EQ(w.font().pixelSize(), 11);
    EXPECT_EQ(w.font().family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Routala palvelin"));
    EXPECT_EQ(w.rbgTietokannanTyyppi->items(),
              (QStringList{QStringLiteral("solidDB 7"), QStringLiteral("solidDB 100")}));
    EXPECT_TRUE(w.cbxTietokanta->isEditable());
    EXPECT_EQ(w.cbxTietokanta->count(), 4);
}

TEST_F(WindowTest, MemosStayDockedToTheBottom)
{
    TfrmKRPalvelin& w = create();
    w.show();
    w.resize(800, 600);
    QApplication::processEvents();
    EXPECT_EQ(w.memYhteysnakyma->geometry(), QRect(0, 600 - 174, 800, 174));
    EXPECT_EQ(w.memYhteydet->geometry(), QRect(0, 600 - 348, 800, 174));
}

TEST_F(WindowTest, TabOrder)
{
    TfrmKRPalvelin& w = create();
    // Walk the focus chain from the start button; a radio button stands for its group.
    QStringList order;
    QWidget* current = w.butKaynnista;
    do {
        if (current->focusPolicy() & Qt::TabFocus) {
            QString name = current->objectName();
            if (qobject_cast<QRadioButton*>(current))
                name = w.rbgTietokannanTyyppi->objectName();
            if (!name.isEmpty() && (order.isEmpty() || order.back() != name))
                order << name;
        }
        current = current->nextInFocusChain();
    } while (current != w.butKaynnista);
    const QStringList expected = {
        "butKaynnista", "butPysayta",           "cbxTietokanta",        "edPortti",
        "memYhteydet",  "rbgTietokannanTyyppi", "butTallennaAsetukset", "memYhteysnakyma",
    };
    EXPECT_EQ(order.mid(0, expected.size()), expected) << order.join(QLatin1Char(' ')).toStdString();
}

TEST_F(WindowTest, WithoutSettingsFileFieldsAreEmptyAndNothingStarts)
{
    TfrmKRPalvelin& w = create();
    EXPECT_EQ(w.cbxTietokanta->currentText(), QString());
    EXPECT_EQ(w.edPortti->text(), QString());
    EXPECT_EQ(w.rbgTietokannanTyyppi->itemIndex(), 1);
    EXPECT_FALSE(w.sisaiseen_selvitykseen_tuoterivien_nimet);
    w.show();
    QApplication::processEvents();
    EXPECT_FALSE(service.started);
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(QFile::exists(iniPath()));
    w.close();
    EXPECT_EQ(readAll(iniPath()),
              QByteArray("[Tietokanta]\nVerkkonimi=\n\n[Palvelu]\nPortti=\nTietokannan_tyyppi=1\n"));
}

TEST_F(WindowTest, StoredTypeIndexIsClampedAndSavedBack)
{
    const std::pair<int, int> cases[] = {{5, 1}, {-3, -1}, {0, 0}};
    for (auto [stored, applied] : cases) {
        writeAll(iniPath(), QStringLiteral("[Palvelu]\nTietokannan_tyyppi=%1\n").arg(stored).toUtf8());
        TfrmKRPalvelin& w = create();
        EXPECT_EQ(w.rbgTietokannanTyyppi->itemIndex(), applied) << stored;
        EXPECT_EQ(w.rbgTietokannanTyyppi->button(0)->isChecked(), applied == 0);
        EXPECT_EQ(w.rbgTietokannanTyyppi->button(1)->isChecked(), applied == 1);
        w.butTallennaAsetukset->click();
        EXPECT_TRUE(readAll(iniPath()).contains(QStringLiteral("Tietokannan_tyyppi=%1\n").arg(applied).toUtf8()))
            << readAll(iniPath()).toStdString();
        window.reset();
    }
}

TEST_F(WindowTest, SettingsAreShownAsStoredAndSavedUntrimmed)
{
    writeAll(iniPath(),
             "; käsin\n[Tietokanta]\nVerkkonimi=palvelin 1313\n[Palvelu]\nPortti=abc\n"
             "Sisaisen_selvityksen_erikoiskasittely=1\n");
    TfrmKRPalvelin& w = create();
    EXPECT_EQ(w.cbxTietokanta->currentText(), QStringLiteral("palvelin 1313"));
    EXPECT_EQ(w.edPortti->text(), QStringLiteral("abc"));
    EXPECT_TRUE(w.sisaiseen_selvitykseen_tuoterivien_nimet);
    w.cbxTietokanta->setEditText(QStringLiteral(" toinen 1315 "));
    w.butTallennaAsetukset->click();
    EXPECT_EQ(readAll(iniPath()), QByteArray("; käsin\n[Tietokanta]\nVerkkonimi= toinen 1315 \n[Palvelu]\nPortti=abc\n"
                                             "Sisaisen_selvityksen_erikoiskasittely=1\nTietokannan_tyyppi=1\n"));
}

TEST_F(WindowTest, FailingSaveIsShownAndTheWindowStillCloses)
{
    TfrmKRPalvelin& w = create();
    QDir(dir.path()).mkdir(QStringLiteral("asetukset.ini"));
    w.show();
    w.close();
    EXPECT_FALSE(w.isVisible());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains(QDir::toNativeSeparators(iniPath()))) << boxes[0].text.toStdString();
}

TEST_F(WindowTest, CaptionRules)
{
    TfrmKRPalvelin& w = create();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Routala palvelin"));
    w.SetYritys(QStringLiteral("Routala Oy"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Routala mobiilipalvelu - Routala Oy"));
    EXPECT_EQ(w.Yritys(), QStringLiteral("Routala Oy"));
    w.SetYritys(QString());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Routala mobiilipalvelu"));
}

TEST(AutomaticStart, Rule)
{
    struct Case {
        const char* tietokanta;
        const char* portti;
        bool starts;
    };
    const Case cases[] = {
        {"palvelin 1313", "14002", true},
        {"  x  ", "1", true},
        {"", "14002", false},
        {"   ", "14002", false},
        {"palvelin 1313", "", false},
        {"palvelin 1313", "0", false},
        {"palvelin 1313", "-5", false},
        {"palvelin 1313", "abc", false},
        {"palvelin 1313", "12x", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ServiceController::kaynnistyykoAutomaattisesti(QString::fromUtf8(c.tietokanta),
                                                                 QString::fromUtf8(c.portti)),
                  c.starts)
            << c.tietokanta << " / " << c.portti;
}

TEST_F(WindowTest, ShowingStartsTheServiceWithDatabaseAndPort)
{
    erp.createStandard(QStringLiteral("Routala Oy"));
    writeSettings(QStringLiteral("14002"));
    TfrmKRPalvelin& w = create();
    w.show();
    ASSERT_TRUE(test::processEventsUntil([&] { return service.started; }));
    EXPECT_EQ(service.ports, std::vector<int>{14002});
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Routala mobiilipalvelu - Routala Oy"));
    EXPECT_TRUE(w.FDYhteysPaaruutu().isOpen());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, StartFailureShowsTheMessageBoxAndTheServiceStaysStopped)
{
    // A database file in a directory that does not exist cannot be opened.
    writeAll(iniPath(), "[Tietokanta]\nVerkkonimi=sqlite:/nonexistent-dir/erp.sqlite\n[Palvelu]\nPortti=14002\n");
    TfrmKRPalvelin& w = create();
    w.butKaynnista->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, QStringLiteral("Routala palvelin"));
    EXPECT_TRUE(boxes[0].text.startsWith(kStartFailure)) << boxes[0].text.toStdString();
    EXPECT_GT(boxes[0].text.size(), kStartFailure.size());  // the error's own message follows
    EXPECT_FALSE(service.started);
    EXPECT_FALSE(w.FDYhteysPaaruutu().isOpen());
}

TEST_F(WindowTest, AfterConnectFailureKeepsTheConnectionAndTheNextStartSkipsIt)
{
    erp.createCatalogue();  // no ASETUS table
    writeSettings(QStringLiteral("14002"));
    TfrmKRPalvelin& w = create();
    w.butKaynnista->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.startsWith(kStartFailure));
    EXPECT_FALSE(service.started);
    EXPECT_TRUE(w.FDYhteysPaaruutu().isOpen());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Routala palvelin"));

    w.butKaynnista->click();
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(service.started);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Routala palvelin"));  // after-connect did not run again
}

TEST_F(WindowTest, PortThatIsNotANumberIsReportedAfterTheConnectionOpens)
{
    erp.createStandard();
    writeSettings(QStringLiteral("14oo2"));
    TfrmKRPalvelin& w = create();
    w.butKaynnista->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("'14oo2' is not a valid integer value"));
    EXPECT_EQ(boxes[0].title, QStringLiteral("Routala mobiilipalvelu - Routala Oy"));
    EXPECT_FALSE(service.started);
    EXPECT_TRUE(w.FDYhteysPaaruutu().isOpen());
}

TEST_F(WindowTest, PortOutsideTheRangeIsRefused)
{
    erp.createStandard();
    writeSettings(QStringLiteral("70000"));
    TfrmKRPalvelin& w = create();
    w.butKaynnista->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("70000")));
    EXPECT_FALSE(service.started);
}

TEST_F(WindowTest, ServiceStartFailureIsShownAndProgramGoesOn)
{
    erp.createStandard();
    writeSettings(QStringLiteral("14002"));
    service.failWith = "Portti 14002 on jo käytössä.";
    TfrmKRPalvelin& w = create();
    w.butKaynnista->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Portti 14002 on jo käytössä."));
    EXPECT_FALSE(service.started);
    EXPECT_TRUE(w.butKaynnista->isEnabled());
}

TEST_F(WindowTest, StopClosesTheDatabaseAndEmptiesTheConnectionView)
{
    erp.createStandard();
    writeSettings(QStringLiteral("14002"));
    TfrmKRPalvelin& w = create();
    int resets = 0;
    w.setOnRegistryReset([&] {
        ++resets;
        w.PaivitaYhteysnakyma({}, 0);
    });
    w.butKaynnista->click();
    ASSERT_TRUE(service.started);
    w.PaivitaYhteysnakyma(
        {QStringLiteral("a     Kairanet     1.1.2026 8.00.00"), QStringLiteral("b     Muu     1.1.2026 8.00.01")}, 1);
    EXPECT_EQ(w.labKairanetYhteyksia->text(), QStringLiteral("1"));
    EXPECT_EQ(w.memYhteysnakyma->document()->blockCount(), 2);
    w.butPysayta->click();
    EXPECT_FALSE(service.started);
    EXPECT_FALSE(w.FDYhteysPaaruutu().isOpen());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Routala mobiilipalvelu"));
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(w.memYhteysnakyma->toPlainText(), QString());
    EXPECT_EQ(w.labKairanetYhteyksia->text(), QStringLiteral("0"));
    EXPECT_EQ(w.Kairanet_yhteyksia(), 0);

    // Start again: a new connection, after-connect once more.
    erp.setSetting(QStringLiteral("ASETUS"), QStringLiteral("yrityksen nimi"), QStringLiteral("Toinen Oy"));
    w.butKaynnista->click();
    EXPECT_TRUE(service.started);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Routala mobiilipalvelu - Toinen Oy"));
}

TEST_F(WindowTest, StartWhenStartedDoesNothing)
{
    erp.createStandard();
    writeSettings(QStringLiteral("14002"));
    TfrmKRPalvelin& w = create();
    w.butKaynnistaClick();
    w.butKaynnistaClick();
    EXPECT_EQ(service.ports.size(), 1u);
}

TEST_F(WindowTest, ControlsAreEnabledByTheServiceState)
{
    TfrmKRPalvelin& w = create();
    auto state = [&] {
        return std::vector<bool>{w.butKaynnista->isEnabled(), w.edPortti->isEnabled(), w.cbxTietokanta->isEnabled(),
                                 w.rbgTietokannanTyyppi->isEnabled(), w.butPysayta->isEnabled()};
    };
    const std::vector<bool> stopped = {true, true, true, true, false};
    const std::vector<bool> running = {false, false, false, false, true};
    EXPECT_EQ(state(), stopped);
    // The idle pass follows the service, however it changed.
    service.started = true;
    w.ApplicationEvents1Idle();
    EXPECT_EQ(state(), running);
    service.started = false;
    runUntilIdle();
    EXPECT_EQ(state(), stopped);
    service.started = true;
    runUntilIdle();
    EXPECT_EQ(state(), running);
}

// The automatic start keeps trying while the database does not open: no message box, one log
// line for many failures, serving as soon as the database is there.
TEST_F(WindowTest, AutomaticStartRetriesUntilTheDatabaseOpens)
{
    erp.createStandard(QStringLiteral("Routala Oy"));
    const QString later = dir.filePath(QStringLiteral("myohemmin/erp.sqlite"));
    writeAll(iniPath(),
             QStringLiteral("[Tietokanta]\nVerkkonimi=sqlite:%1\n[Palvelu]\nPortti=14002\n").arg(later).toUtf8());
    TfrmKRPalvelin& w = create();
    w.startRetry().setIntervals(std::chrono::milliseconds(20), std::chrono::hours(1));
    w.show();
    ASSERT_TRUE(test::processEventsUntil([&] { return w.startRetry().failures() >= 5; }));
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(service.started);
    runUntilIdle();
    EXPECT_TRUE(w.butPysayta->isEnabled());  // the operator can end the retries
    auto linesWith = [&](const char* part) { return log.lines().filter(QString::fromUtf8(part)).size(); };
    EXPECT_EQ(linesWith("Yritetään uudelleen"), 1);

    ASSERT_TRUE(QDir().mkpath(QFileInfo(later).path()));
    ASSERT_TRUE(QFile::copy(erp.path(), later));
    ASSERT_TRUE(test::processEventsUntil([&] { return service.started; }));
    EXPECT_FALSE(w.startRetry().isRetrying());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Routala mobiilipalvelu - Routala Oy"));
    EXPECT_EQ(linesWith("Tietokantayhteys avautui"), 1);
    EXPECT_TRUE(boxes.empty());
}

// A database that opens but fails its after-connect work (no table ASETUS) is not served: the
// automatic start logs that failure as what it is and runs the whole start again on each
// retry, and serves once the table is there. The operator's Start keeps its own way: the
// message box, and the connection left open for the next Start
// (AfterConnectFailureKeepsTheConnectionAndTheNextStartSkipsIt).
TEST_F(WindowTest, AutomaticStartServesOnlyWhenTheAfterConnectWorkPasses)
{
    erp.createCatalogue();  // no ASETUS
    writeSettings(QStringLiteral("14002"));
    TfrmKRPalvelin& w = create();
    w.startRetry().setIntervals(std::chrono::milliseconds(20), std::chrono::hours(1));
    w.show();
    ASSERT_TRUE(test::processEventsUntil([&] { return w.startRetry().failures() >= 5; }));
    EXPECT_FALSE(service.started);
    EXPECT_TRUE(boxes.empty());
    auto linesWith = [&](const char* part) { return log.lines().filter(QString::fromUtf8(part)).size(); };
    EXPECT_EQ(linesWith("tarkistukset epäonnistuivat, joten palvelua ei käynnistetty"), 1);
    EXPECT_EQ(linesWith("ASETUS"), 1) << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(linesWith("Tietokantaan ei saatu yhteyttä"), 0);  // it did open
    EXPECT_FALSE(w.FDYhteysPaaruutu().isOpen());                // each retry starts on a fresh connection

    erp.createSettingsTable(QStringLiteral("ASETUS"));
    erp.setSetting(QStringLiteral("ASETUS"), QStringLiteral("yrityksen nimi"), QStringLiteral("Routala Oy"));
    erp.setSetting(QStringLiteral("ASETUS"), QStringLiteral("tm lisätilat"), QStringLiteral("\"MUU\""));
    ASSERT_TRUE(test::processEventsUntil([&] { return service.started; }));
    EXPECT_EQ(linesWith("tarkistukset menivät läpi, palvelu käynnistyi"), 1);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Routala mobiilipalvelu - Routala Oy"));
    // The after-connect work ran on the connection that serves.
    EXPECT_EQ(erp.setting(QStringLiteral("ASETUS"), QStringLiteral("tm lisätilat")),
              QStringLiteral("\"MUU\",\"TYÖT OK\""));
}

// Failures of a long outage are logged at most once per log interval.
TEST_F(WindowTest, LongOutageIsLoggedAtMostOncePerInterval)
{
    writeAll(iniPath(), "[Tietokanta]\nVerkkonimi=sqlite:/nonexistent-dir/erp.sqlite\n[Palvelu]\nPortti=14002\n");
    TfrmKRPalvelin& w = create();
    w.startRetry().setIntervals(std::chrono::milliseconds(10), std::chrono::milliseconds(300));
    const auto start = std::chrono::steady_clock::now();
    w.show();
    ASSERT_TRUE(test::processEventsUntil([&] { return w.startRetry().failures() >= 60; }));
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const qsizetype logged = log.lines().filter(QStringLiteral("Tietokantaan ei")).size();
    EXPECT_GE(logged, 1);
    EXPECT_LE(logged, 1 + static_cast<qsizetype>(elapsed / 0.3));
    EXPECT_LT(logged, w.startRetry().failures());
    w.butPysaytaClick();
}

// The operator's Stop, Start and closing the window each end the retries; a Start pressed
// by the operator shows its failure in the message box.
TEST_F(WindowTest, OperatorsActionsEndTheRetries)
{
    writeAll(iniPath(), "[Tietokanta]\nVerkkonimi=sqlite:/nonexistent-dir/erp.sqlite\n[Palvelu]\nPortti=14002\n");
    struct Case {
        const char* action;
        std::function<void(TfrmKRPalvelin&)> run;
        std::size_t boxes;
    };
    const Case cases[] = {
        {"stop", [](TfrmKRPalvelin& w) { w.butPysayta->click(); }, 0},
        {"start", [](TfrmKRPalvelin& w) { w.butKaynnista->click(); }, 1},
        {"close", [](TfrmKRPalvelin& w) { w.close(); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action);
        boxes.clear();
        TfrmKRPalvelin& w = create();
        w.startRetry().setIntervals(std::chrono::milliseconds(10), std::chrono::hours(1));
        w.show();
        ASSERT_TRUE(test::processEventsUntil([&] { return w.startRetry().failures() >= 2; }));
        runUntilIdle();
        c.run(w);
        EXPECT_FALSE(w.startRetry().isRetrying());
        const int failures = w.startRetry().failures();
        QTest::qWait(100);
        EXPECT_EQ(w.startRetry().failures(), failures);
        EXPECT_EQ(boxes.size(), c.boxes);
        window.reset();
    }
}

TEST_F(WindowTest, LogLinesAppearInTheLogMemo)
{
    TfrmKRPalvelin& w = create();
    TekstiLokiin(QStringLiteral("ensimmäinen"));
    std::thread worker([] { appendLogLine(QStringLiteral("toinen\r\nkolmas")); });
    worker.join();
    ASSERT_TRUE(test::processEventsUntil([&] { return w.memYhteydet->logModel().rowCount() == 3; }));
    const QStringList shown = w.memYhteydet->toPlainText().split(QLatin1Char('\n'));
    EXPECT_TRUE(shown[0].endsWith(QStringLiteral(": ensimmäinen")));
    EXPECT_EQ(shown[1], QStringLiteral("toinen"));
    EXPECT_EQ(shown[2], QStringLiteral("kolmas"));
}

TEST_F(WindowTest, HundredThousandLogLinesAreAllKeptAndTheWindowAnswers)
{
    TfrmKRPalvelin& w = create();
    w.show();
    std::thread worker([] {
        for (int i = 0; i < 100000; ++i)
            appendLogLine(QStringLiteral("rivi %1").arg(i));
    });
    worker.join();
    ASSERT_TRUE(test::processEventsUntil([&] { return w.memYhteydet->logModel().rowCount() == 100000; }));
    EXPECT_EQ(w.memYhteydet->logModel().lineOfRow(0), QStringLiteral("rivi 0"));
    EXPECT_EQ(w.memYhteydet->logModel().lineOfRow(99999), QStringLiteral("rivi 99999"));
    EXPECT_EQ(log.lineCount(), 100000);
    // The window still takes the operator's input.
    QTest::mouseClick(w.butTallennaAsetukset, Qt::LeftButton);
    EXPECT_TRUE(QFile::exists(iniPath()));
}

TEST_F(WindowTest, TheLogKeepsTheNewestLinesOfTheSettingAndWritesTheDailyFile)
{
    writeAll(iniPath(), "[Loki]\nRivimaara=3\nHakemisto=loki\nSailytettavat_paivat=2\n");
    TfrmKRPalvelin& w = create();
    std::thread worker([] {
        for (int i = 0; i < 5; ++i)
            appendLogLine(QStringLiteral("rivi %1").arg(i));
    });
    worker.join();
    appendLogLine(QStringLiteral("rivi 5"));  // handed over lines come later than this one
    ASSERT_TRUE(test::processEventsUntil([&] { return log.appendedCount() == 6; }));
    w.flushLogView();
    EXPECT_EQ(w.memYhteydet->toPlainText(), QStringLiteral("rivi 2\nrivi 3\nrivi 4"));
    EXPECT_EQ(log.lines(), (QStringList{QStringLiteral("rivi 2"), QStringLiteral("rivi 3"), QStringLiteral("rivi 4")}));
    // The file keeps every line; a relative directory is taken from the settings file's.
    const QString file =
        dir.filePath(QStringLiteral("loki/krpalvelin-%1.log").arg(QDate::currentDate().toString(Qt::ISODate)));
    EXPECT_EQ(readAll(file), QByteArray("rivi 5\nrivi 0\nrivi 1\nrivi 2\nrivi 3\nrivi 4\n"));
}

TEST_F(WindowTest, OnlyOneWindowInstanceIsPublished)
{
    TfrmKRPalvelin& w = create();
    EXPECT_EQ(frmKRPalvelin, &w);
    window.reset();
    EXPECT_EQ(frmKRPalvelin, nullptr);
}

}  // namespace
