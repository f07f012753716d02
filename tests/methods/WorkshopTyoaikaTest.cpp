// Time entries of mechanics: starting and ending work, reading entries, open entries, the work
// phase and the note, and numbering under concurrent starts.
#include "WorkshopFixture.h"

#include "methods/KeyNumbering.h"
#include "methods/MethodError.h"
#include "types/DateTimeValue.h"

#include <algorithm>
#include <latch>
#include <set>
#include <thread>
#include <vector>

namespace krp::test {
namespace {

QDateTime nowToTheSecond()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.addMSecs(-now.time().msec());
}

std::string messageOfCall(const std::function<void()>& call)
{
    try {
        call();
    } catch (const MethodError& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("other error: ") + e.what();
    }
    return "no error";
}

class TyoaikaTest : public WorkshopTest {
protected:
    // Adds a time entry with the given start and end (invalid: null).
    void addEntry(int nro, int tyonro, const QString& tekija, const QDateTime& alku, const QDateTime& loppu)
    {
        db::Query q(db());
        q.setSql(
            {QStringLiteral("INSERT INTO TYOAIKA (TYA_NRO, TYA_TYONRO, TYA_VAIHENRO, TYA_VAATIVUUS, TYA_ALKUKLO, "
                            "TYA_LOPPUKLO, TYA_TEKIJA) VALUES (:nro, :tyonro, 0, 0, :alku, :loppu, :tekija)")});
        q.param(QStringLiteral("nro")).setInteger(nro);
        q.param(QStringLiteral("tyonro")).setInteger(tyonro);
        q.param(QStringLiteral("tekija")).setText(tekija);
        if (alku.isValid())
            q.param(QStringLiteral("alku")).setDateTime(alku);
        else
            q.param(QStringLiteral("alku")).setNull();
        if (loppu.isValid())
            q.param(QStringLiteral("loppu")).setDateTime(loppu);
        else
            q.param(QStringLiteral("loppu")).setNull();
        q.execute();
    }

    QDateTime loppuklo(int nro)
    {
        db::Query q(db());
        q.setSql({QStringLiteral("SELECT TYA_LOPPUKLO FROM TYOAIKA WHERE TYA_NRO=%1").arg(nro)});
        q.open();
        return q.field(0).isNull() ? QDateTime() : q.field(0).asDateTime();
    }
};

// --- KirjaaTyonAloitus -------------------------------------------------------------------------

TEST_P(TyoaikaTest, FirstEntryOfAnEmptyTableIsOneAndStoredToTheSecond)
{
    testDb().execute(QStringLiteral("DELETE FROM TYOAIKA"));
    const QDateTime before = nowToTheSecond();
    const types::TTyoaikakirjaus first = methods_->KirjaaTyonAloitus(10001);
    const QDateTime after = QDateTime::currentDateTime();

    EXPECT_EQ(first.tyokirjausnro, 1);
    EXPECT_EQ(first.tyomaaraysnro, 10001);
    EXPECT_EQ(first.tekija, QStringLiteral("PEKKA"));
    EXPECT_EQ(first.lopetusaika, 0.0);
    EXPECT_EQ(first.tyokoodi, QString());
    EXPECT_EQ(first.tyonimike, QString());
    EXPECT_EQ(first.lisatieto, QString());
    const QDateTime alku = types::fromTDateTime(first.aloitusaika);
    EXPECT_EQ(alku.time().msec(), 0);
    EXPECT_GE(alku, before);
    EXPECT_LE(alku, after);

    EXPECT_EQ(integer(QStringLiteral("SELECT TYA_VAIHENRO FROM TYOAIKA WHERE TYA_NRO=1")), 0);
    EXPECT_EQ(integer(QStringLiteral("SELECT TYA_VAATIVUUS FROM TYOAIKA WHERE TYA_NRO=1")), 0);
    EXPECT_EQ(integer(QStringLiteral("SELECT COUNT(*) FROM TYOAIKA WHERE TYA_NRO=1 AND TYA_LOPPUKLO IS NULL "
                                     "AND TYA_TYOKOODI IS NULL AND TYA_TYONIMIKE IS NULL AND TYA_TYOJOHT IS NULL "
                                     "AND TYA_LISATIETO IS NULL")),
              1);

    // Starting twice gives two open entries.
    EXPECT_EQ(methods_->KirjaaTyonAloitus(10001).tyokirjausnro, 2);
    const auto avoimet = methods_->HaeAvoimetTyoaikakirjaukset(10001);
    ASSERT_TRUE(avoimet.has_value());
    std::vector<std::int32_t> nrot;
    for (const auto& k : *avoimet)
        nrot.push_back(k.tyokirjausnro);
    std::sort(nrot.begin(), nrot.end());
    EXPECT_EQ(nrot, (std::vector<std::int32_t>{1, 2}));
    EXPECT_TRUE(logLines().isEmpty());
}

TEST_P(TyoaikaTest, StartContinuesAfterTheHighestNumberWithTheSessionUser)
{
    auto asa = session(QStringLiteral("ÅSA"));
    const types::TTyoaikakirjaus k = asa->KirjaaTyonAloitus(10008);
    EXPECT_EQ(k.tyokirjausnro, 4);  // the demo holds entries 1 to 3
    EXPECT_EQ(k.tekija, QStringLiteral("ÅSA"));
    EXPECT_EQ(text(QStringLiteral("SELECT TYA_TEKIJA FROM TYOAIKA WHERE TYA_NRO=4")), QStringLiteral("ÅSA"));
}

TEST_P(TyoaikaTest, StartOnAWorkOrderThatDoesNotExistIsRefused)
{
    const std::int64_t entries = integer(QStringLiteral("SELECT COUNT(*) FROM TYOAIKA"));
    EXPECT_EQ(messageOfCall([&] { methods_->KirjaaTyonAloitus(99999); }),
              "KirjaaTyonAloitus: Työmääräystä 99999 ei löydy.");
    EXPECT_EQ(integer(QStringLiteral("SELECT COUNT(*) FROM TYOAIKA")), entries);
}

TEST_P(TyoaikaTest, TwentyMechanicsStartingAtOnceGetTwentyEntries)
{
    constexpr int kThreads = 20;
    std::vector<std::unique_ptr<TServerMethods1>> sessions;
    for (int i = 0; i < kThreads; ++i)
        sessions.push_back(session(QStringLiteral("MEKAANIKKO%1").arg(i)));

    std::vector<std::int32_t> nrot(kThreads, 0);
    std::vector<std::string> errors(kThreads);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            try {
                nrot[i] = sessions[i]->KirjaaTyonAloitus(10001).tyokirjausnro;
            } catch (const std::exception& e) {
                errors[i] = e.what();
            }
        });
    }
    for (std::thread& t : threads)
        t.join();

    for (int i = 0; i < kThreads; ++i)
        EXPECT_EQ(errors[i], "") << "session " << i;
    EXPECT_EQ(std::set<std::int32_t>(nrot.begin(), nrot.end()).size(), static_cast<std::size_t>(kThreads));
    EXPECT_EQ(integer(QStringLiteral("SELECT COUNT(*) FROM TYOAIKA WHERE TYA_TEKIJA LIKE 'MEKAANIKKO%'")), kThreads);
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(text(QStringLiteral("SELECT TYA_TEKIJA FROM TYOAIKA WHERE TYA_NRO=%1").arg(nrot[i])),
                  QStringLiteral("MEKAANIKKO%1").arg(i));
    }
}

// --- numbering under a lock with a retry on a taken key -----------------------------------------

class KeyNumberingTest : public WorkshopTest {
protected:
    void insertEntry(int nro)
    {
        db::Query q(db());
        q.setSql({QStringLiteral("INSERT INTO TYOAIKA (TYA_NRO, TYA_TYONRO) VALUES (:nro, 10001)")});
        q.param(QStringLiteral("nro")).setInteger(nro);
        q.execute();
    }
};

TEST_P(KeyNumberingTest, ATakenKeyRunsTheStepAgain)
{
    std::mutex lock;
    int attempts = 0;
    // Another writer has taken number 1: the first two tries collide, the third gets through.
    const int nro = numberUnderLock(lock, [&](int attempt) {
        ++attempts;
        const int uusi = attempt < 2 ? 1 : 100;
        insertEntry(uusi);
        return uusi;
    });
    EXPECT_EQ(nro, 100);
    EXPECT_EQ(attempts, 3);
}

TEST_P(KeyNumberingTest, GivesUpAfterAFewTriesWithTheDatabaseError)
{
    std::mutex lock;
    int attempts = 0;
    try {
        numberUnderLock(lock, [&](int) {
            ++attempts;
            insertEntry(1);
            return 1;
        });
        FAIL() << "no error";
    } catch (const db::Error& e) {
        EXPECT_TRUE(e.isDuplicateKey()) << e.what();
    }
    EXPECT_EQ(attempts, kKeyNumberingAttempts);
}

TEST_P(KeyNumberingTest, OtherFailuresAreNotRetried)
{
    std::mutex lock;
    int attempts = 0;
    EXPECT_THROW(numberUnderLock(lock,
                                 [&](int) {
                                     ++attempts;
                                     db::Query q(db());
                                     q.setSql({QStringLiteral("INSERT INTO EI_TAULUA (X) VALUES (1)")});
                                     q.execute();
                                     return 1;
                                 }),
                 db::Error);
    EXPECT_EQ(attempts, 1);
}

KRP_INSTANTIATE_ON_BACKENDS(KeyNumberingTest);

// --- HaeTyoaikakirjaus and KirjaaTyonLopetus ----------------------------------------------------

TEST_P(TyoaikaTest, ReadsAnEntry)
{
    const types::TTyoaikakirjaus k = methods_->HaeTyoaikakirjaus(1);
    EXPECT_EQ(k.tyokirjausnro, 1);
    EXPECT_EQ(k.tyomaaraysnro, 10002);
    EXPECT_EQ(k.aloitusaika, types::toTDateTime(QDateTime(QDate(2026, 12, 8), QTime(8, 0))));
    EXPECT_EQ(k.lopetusaika, types::toTDateTime(QDateTime(QDate(2026, 12, 8), QTime(9, 30))));
    EXPECT_EQ(k.tyokoodi, QStringLiteral("HUOLTO"));
    EXPECT_EQ(k.tyonimike, QStringLiteral("Määräaikaishuolto"));
    EXPECT_EQ(k.tekija, QStringLiteral("PEKKA"));
    EXPECT_EQ(k.lisatieto, QStringLiteral("Jarrunesteen vaihto tehty"));
    EXPECT_FALSE(methods_->sqlYleinen.isOpen());

    const types::TTyoaikakirjaus open = methods_->HaeTyoaikakirjaus(2);
    EXPECT_EQ(open.lopetusaika, 0.0);
    EXPECT_EQ(open.tyokoodi, QString());
}

TEST_P(TyoaikaTest, MissingEntryFailsWithItsNumber)
{
    EXPECT_EQ(messageOfCall([&] { methods_->HaeTyoaikakirjaus(5); }),
              "HaeTyoaikakirjaus: Työkirjausnumerolla 5 ei löyty työaikakirjausta.");
    EXPECT_FALSE(methods_->sqlYleinen.isOpen());
    EXPECT_EQ(messageOfCall([&] { methods_->KirjaaTyonLopetus(5); }),
              "KirjaaTyonLopetus: Työaikakirjauksen hakeminen epäonnistui. Virhe: "
              "HaeTyoaikakirjaus: Työkirjausnumerolla 5 ei löyty työaikakirjausta.");
}

TEST_P(TyoaikaTest, EndingOnlyStartedEntriesOfTheSameUser)
{
    const QDateTime started = QDateTime(QDate(2026, 12, 9), QTime(7, 0));
    const QDateTime earlierEnd = QDateTime(QDate(2026, 12, 9), QTime(7, 30));
    const QDateTime now = QDateTime::currentDateTime();
    struct Case {
        const char* name;
        const char* tekija;
        QDateTime alku;
        QDateTime loppu;
        const char* user;
        const char* refusal;  // nullptr: ended
    };
    const Case cases[] = {
        {"same_user", "PEKKA", started, QDateTime(), "PEKKA", nullptr},
        {"other_letter_case", "PEKKA", started, QDateTime(), "pekka", nullptr},
        {"other_letter_case_finnish", "ÅSA", started, QDateTime(), "åsa", nullptr},
        {"ended_again_replaces_the_end", "PEKKA", started, earlierEnd, "PEKKA", nullptr},
        {"started_99_years_ago", "PEKKA", now.addYears(-99), QDateTime(), "PEKKA", nullptr},
        {"other_user", "ÅSA", started, QDateTime(), "PEKKA",
         "KirjaaTyonLopetus: Työn on kirjannut aloitetuksi toinen käyttäjä ÅSA. Toisen käyttäjän töitä ei voi kirjata "
         "lopetetuksi."},
        {"null_start", "PEKKA", QDateTime(), QDateTime(), "PEKKA",
         "KirjaaTyonLopetus: Työtä ei ole aloitettu, joten lopetusta ei voi kirjata."},
        {"started_101_years_ago", "PEKKA", now.addYears(-101), QDateTime(), "PEKKA",
         "KirjaaTyonLopetus: Työtä ei ole aloitettu, joten lopetusta ei voi kirjata."},
        {"not_started_is_told_before_other_user", "ÅSA", QDateTime(), QDateTime(), "PEKKA",
         "KirjaaTyonLopetus: Työtä ei ole aloitettu, joten lopetusta ei voi kirjata."},
    };
    int nro = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ++nro;
        addEntry(nro, 10001, QString::fromUtf8(c.tekija), c.alku, c.loppu);
        auto user = session(QString::fromUtf8(c.user));
        if (c.refusal) {
            EXPECT_EQ(messageOfCall([&] { user->KirjaaTyonLopetus(nro); }), c.refusal);
            EXPECT_EQ(loppuklo(nro), c.loppu);  // unchanged
            continue;
        }
        const QDateTime before = nowToTheSecond();
        const types::TTyoaikakirjaus k = user->KirjaaTyonLopetus(nro);
        const QDateTime after = QDateTime::currentDateTime();
        const QDateTime loppu = types::fromTDateTime(k.lopetusaika);
        EXPECT_EQ(k.tyokirjausnro, nro);
        EXPECT_EQ(k.tekija, QString::fromUtf8(c.tekija));
        EXPECT_EQ(loppu.time().msec(), 0);
        EXPECT_GE(loppu, before);
        EXPECT_LE(loppu, after);
        EXPECT_EQ(loppuklo(nro), loppu);
    }
}

// --- HaeAvoimetTyoaikakirjaukset ---------------------------------------------------------------

TEST_P(TyoaikaTest, OpenEntriesOfTheSessionUser)
{
    const QDateTime alku(QDate(2026, 12, 9), QTime(8, 0));
    addEntry(60, 10001, QStringLiteral("PEKKA"), alku, QDateTime());                                  // open
    addEntry(61, 10001, QStringLiteral("PEKKA"), alku, QDateTime(QDate(1899, 12, 30), QTime(0, 0)));  // zero end: open
    addEntry(62, 10001, QStringLiteral("PEKKA"), alku, QDateTime(QDate(1850, 6, 1), QTime(12, 0)));   // open
    addEntry(63, 10001, QStringLiteral("PEKKA"), alku, QDateTime(QDate(1899, 12, 31), QTime(23, 59, 59)));  // open
    addEntry(64, 10001, QStringLiteral("PEKKA"), alku, QDateTime(QDate(1900, 1, 1), QTime(0, 0)));          // ended
    addEntry(65, 10001, QStringLiteral("PEKKA"), alku, QDateTime(QDate(2026, 12, 9), QTime(9, 0)));         // ended
    addEntry(66, 10001, QStringLiteral("ÅSA"), alku, QDateTime());    // other user
    addEntry(67, 10001, QStringLiteral("pekka"), alku, QDateTime());  // the database's own equality
    addEntry(68, 10002, QStringLiteral("PEKKA"), alku, QDateTime());  // other work order

    const auto avoimet = methods_->HaeAvoimetTyoaikakirjaukset(10001);
    ASSERT_TRUE(avoimet.has_value());
    std::vector<std::int32_t> nrot;
    for (const auto& k : *avoimet)
        nrot.push_back(k.tyokirjausnro);
    std::sort(nrot.begin(), nrot.end());
    EXPECT_EQ(nrot, (std::vector<std::int32_t>{60, 61, 62, 63}));
    for (const auto& k : *avoimet) {
        EXPECT_EQ(k.tyomaaraysnro, 10001);
        EXPECT_EQ(k.tekija, QStringLiteral("PEKKA"));
        EXPECT_EQ(k.aloitusaika, types::toTDateTime(alku));
    }
    EXPECT_FALSE(methods_->sqlYleinen.isOpen());

    // None open for the user: null, not an empty list.
    EXPECT_FALSE(session(QStringLiteral("MATTI"))->HaeAvoimetTyoaikakirjaukset(10001).has_value());
    EXPECT_FALSE(methods_->HaeAvoimetTyoaikakirjaukset(10008).has_value());
    const auto asa = session(QStringLiteral("ÅSA"))->HaeAvoimetTyoaikakirjaukset(10008);
    ASSERT_TRUE(asa.has_value());
    ASSERT_EQ(asa->size(), 1u);
    EXPECT_EQ((*asa)[0].tyokirjausnro, 3);
    EXPECT_EQ((*asa)[0].lopetusaika, 0.0);
}

// --- AsetaTyovaihe and AsetaTyovaiheenLisatieto ------------------------------------------------

TEST_P(TyoaikaTest, WorkPhaseOfAnEntryAndTheTaskOfItsWorkLine)
{
    struct Case {
        const char* name;
        std::int32_t tyokirjausnro;
        std::optional<types::TTyo> tyo;
        const char* nimike;
        const char* koodi;
        std::int64_t vaihenro;
        const char* tehtava;  // MTR_TEHTAVA of work line 10002/2 afterwards
    };
    const char* original = "Ilmastoinnin huolto";
    const Case cases[] = {
        {"renames_the_work_line", 2, types::TTyo{"ILMASTO", "Ilmastoinnin tarkastus", 2}, "Ilmastoinnin tarkastus",
         "ILMASTO", 2, "Ilmastoinnin tarkastus"},
        {"task_as_received", 2, types::TTyo{"ILMASTO", " Kaasun lisäys ", 2}, " Kaasun lisäys ", "ILMASTO", 2,
         " Kaasun lisäys "},
        {"no_work_phase", 2, std::nullopt, "", "", 0, original},
        {"line_number_0", 2, types::TTyo{"ILMASTO", "Uusi", 0}, "Uusi", "ILMASTO", 0, original},
        {"blank_task", 2, types::TTyo{"ILMASTO", " \t", 2}, " \t", "ILMASTO", 2, original},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testDb().execute(QStringLiteral(
            "UPDATE TYOAIKA SET TYA_TYONIMIKE='vanha', TYA_TYOKOODI='VANHA', TYA_VAIHENRO=9 WHERE TYA_NRO=2;"
            "UPDATE MAARTYO SET MTR_TEHTAVA='Ilmastoinnin huolto' WHERE MTR_NRO=10002 AND MTR_RIVINRO=2"));
        EXPECT_TRUE(methods_->AsetaTyovaihe(c.tyokirjausnro, c.tyo));
        EXPECT_EQ(text(QStringLiteral("SELECT TYA_TYONIMIKE FROM TYOAIKA WHERE TYA_NRO=2")),
                  QString::fromUtf8(c.nimike));
        EXPECT_EQ(text(QStringLiteral("SELECT TYA_TYOKOODI FROM TYOAIKA WHERE TYA_NRO=2")), QString::fromUtf8(c.koodi));
        EXPECT_EQ(integer(QStringLiteral("SELECT TYA_VAIHENRO FROM TYOAIKA WHERE TYA_NRO=2")), c.vaihenro);
        EXPECT_EQ(text(QStringLiteral("SELECT MTR_TEHTAVA FROM MAARTYO WHERE MTR_NRO=10002 AND MTR_RIVINRO=2")),
                  QString::fromUtf8(c.tehtava));
    }
    // An entry that does not exist: nothing changes, still true.
    EXPECT_TRUE(methods_->AsetaTyovaihe(999, types::TTyo{"ILMASTO", "Muu", 2}));
    EXPECT_EQ(text(QStringLiteral("SELECT MTR_TEHTAVA FROM MAARTYO WHERE MTR_NRO=10002 AND MTR_RIVINRO=2")),
              QString::fromUtf8(original));
    EXPECT_EQ(integer(QStringLiteral("SELECT COUNT(*) FROM TYOAIKA WHERE TYA_NRO=999")), 0);
}

TEST_P(TyoaikaTest, NoteIsCutTo255Characters)
{
    QString note;
    const QString letters = QStringLiteral("äöåabcÄÖÅ ");
    for (int i = 0; i < 300; ++i)
        note += letters.at(i % letters.size());
    EXPECT_TRUE(methods_->AsetaTyovaiheenLisatieto(2, note));
    EXPECT_EQ(text(QStringLiteral("SELECT TYA_LISATIETO FROM TYOAIKA WHERE TYA_NRO=2")), note.left(255));

    EXPECT_TRUE(methods_->AsetaTyovaiheenLisatieto(2, QStringLiteral("Lyhyt")));
    EXPECT_EQ(text(QStringLiteral("SELECT TYA_LISATIETO FROM TYOAIKA WHERE TYA_NRO=2")), QStringLiteral("Lyhyt"));

    // A character outside the basic plane at the limit is left out whole, not cut in half.
    const QString emoji = QString::fromUtf8("\xF0\x9F\x94\xA7");  // wrench, two UTF-16 units
    const QString atLimit = QString(254, QLatin1Char('a')) + emoji + QStringLiteral("bbb");
    EXPECT_TRUE(methods_->AsetaTyovaiheenLisatieto(2, atLimit));
    EXPECT_EQ(text(QStringLiteral("SELECT TYA_LISATIETO FROM TYOAIKA WHERE TYA_NRO=2")),
              QString(254, QLatin1Char('a')));

    EXPECT_TRUE(methods_->AsetaTyovaiheenLisatieto(999, QStringLiteral("Ei kirjausta")));
    EXPECT_EQ(integer(QStringLiteral("SELECT COUNT(*) FROM TYOAIKA WHERE TYA_NRO=999")), 0);
}

KRP_INSTANTIATE_ON_BACKENDS(TyoaikaTest);

}  // namespace
}  // namespace krp::test
