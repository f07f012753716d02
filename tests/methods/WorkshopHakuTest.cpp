// Searches of the workshop applications: work orders (states, registration number with the
// dash retry), work operations, customers, the work lines and the internal explanation.
#include "WorkshopFixture.h"

#include <algorithm>
#include <vector>

namespace krp::test {
namespace {

std::vector<std::int64_t> tyoNrot(db::Query* q)
{
    std::vector<std::int64_t> nrot;
    if (!q)
        return nrot;
    for (q->first(); !q->eof(); q->next())
        nrot.push_back(q->fieldByName(QStringLiteral("TYO_NRO")).asInteger());
    return nrot;
}

// The message part of a failure line: what follows `fragment`, checked to follow a time text.
QString failureMessage(const QString& line, const QString& fragment)
{
    const qsizetype at = line.indexOf(fragment);
    if (at < 0 || !isLogLine(line, line.mid(at)))
        return QString();
    return line.mid(at + fragment.size());
}

class TyomaarayshakuTest : public WorkshopTest {
protected:
    void SetUp() override
    {
        WorkshopTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        // Besides the demo work orders 10001-10009: registration numbers for the dash retry,
        // a work order without a state, and number 0, which no search lists.
        testDb().execute(QStringLiteral(
            "INSERT INTO MAARPER (TYO_NRO, TYO_TILA, TYO_REKNRO, TYO_ASIAKASNRO) VALUES (20001, 'AVOIN', 'ABC-12', 0);"
            "INSERT INTO MAARPER (TYO_NRO, TYO_TILA, TYO_REKNRO, TYO_ASIAKASNRO) VALUES (20002, NULL, 'NUL-001', 1000);"
            "INSERT INTO MAARPER (TYO_NRO, TYO_TILA, TYO_REKNRO, TYO_ASIAKASNRO) VALUES (20003, 'AVOIN', 'DEF456', "
            "1000);"
            "INSERT INTO MAARPER (TYO_NRO, TYO_TILA, TYO_REKNRO, TYO_ASIAKASNRO) VALUES (20004, 'AVOIN', 'DEF-456', "
            "1000);"
            "INSERT INTO MAARPER (TYO_NRO, TYO_TILA, TYO_REKNRO, TYO_ASIAKASNRO) VALUES (20005, 'AVOIN', 'ABC-1234', "
            "1000);"
            "INSERT INTO MAARPER (TYO_NRO, TYO_TILA, TYO_REKNRO, TYO_ASIAKASNRO) VALUES (20006, 'AVOIN', 'ÖÄÅ-1', "
            "1000);"
            "INSERT INTO MAARPER (TYO_NRO, TYO_TILA, TYO_REKNRO, TYO_ASIAKASNRO) VALUES (0, 'AVOIN', 'ABC-123', "
            "1000)"));
    }
};

struct HakuCase {
    const char* name;
    const char* reknro;
    std::int32_t tyomaaraysnro;
    bool naytaMyosValmiit;
    std::vector<std::int64_t> expected;
};

const std::vector<std::int64_t> kAvoimet = {20006, 20005, 20004, 20003, 20001, 10009, 10008, 10002, 10001};

const HakuCase kHakuCases[] = {
    // never LASKUTETTU, KUSTANNUSARVIO, PERUTTU, a null state or number 0; highest first
    {"all_open", "", 0, false, kAvoimet},
    {"six_blanks_add_no_condition", "      ", 0, false, kAvoimet},
    {"done_ones_on_request",
     "",
     0,
     true,
     {20006, 20005, 20004, 20003, 20001, 10009, 10008, 10004, 10003, 10002, 10001}},
    {"dash_retry", "abc123", 0, false, {10001}},
    {"dash_retry_with_done", "abc123", 0, true, {10004, 10001}},
    {"dash_retry_of_trimmed_text", " abc12", 0, false, {20001}},
    {"five_characters_no_retry", "abc12", 0, false, {}},
    {"seven_characters_no_retry", "abc1234", 0, false, {}},
    {"typed_with_dash", "ABC-123", 0, false, {10001}},
    {"first_search_found_no_retry", "def456", 0, false, {20003}},
    {"finnish_letters_upper_cased", "öäå-1\t", 0, false, {20006}},
    {"both_conditions_in_retry", "abc123", 10004, true, {10004}},
    {"both_conditions_none_match", "abc123", 10002, true, {}},
    {"number_only", "", 10008, false, {10008}},
    {"number_of_done_order_hidden", "", 10003, false, {}},
    {"number_of_done_order_shown", "", 10003, true, {10003}},
};

TEST_P(TyomaarayshakuTest, FiltersStatesRegistrationNumbersAndNumbers)
{
    for (const HakuCase& c : kHakuCases) {
        SCOPED_TRACE(c.name);
        db::Query* result = methods_->Tyomaarayshaku(QString::fromUtf8(c.reknro), c.tyomaaraysnro, c.naytaMyosValmiit);
        ASSERT_EQ(result, &methods_->sqlTyomaarayshaku);
        EXPECT_EQ(tyoNrot(result), c.expected);
    }
}

TEST_P(TyomaarayshakuTest, LeavesRowsWithJoinedColumnsForItsProvider)
{
    db::Query* result = methods_->Tyomaarayshaku(QStringLiteral("abc123"), 0, false);
    ASSERT_EQ(result, methods_->provider(QStringLiteral("dspTyomaarayshaku")));
    ASSERT_TRUE(result->isOpen());
    ASSERT_EQ(result->recordCount(), 1);
    EXPECT_EQ(result->fieldByName(QStringLiteral("TYO_REKNRO")).asText(), QStringLiteral("ABC-123"));
    EXPECT_EQ(result->fieldByName(QStringLiteral("TYO_KUVAUS")).asText(),
              QStringLiteral("Jarrut vinkuvat, etujarrujen huolto"));
    EXPECT_EQ(result->fieldByName(QStringLiteral("AP_NIMI")).asText(), QStringLiteral("Virtanen Matti"));
    EXPECT_EQ(result->fieldByName(QStringLiteral("AP_ASIAKASNRO")).asInteger(), 1000);
    EXPECT_EQ(result->fieldByName(QStringLiteral("AJN_MERKKI")).asText(), QStringLiteral("Volkswagen"));
    EXPECT_EQ(result->fieldByName(QStringLiteral("AJN_MALLI")).asText(), QStringLiteral("Golf VII 1.4 TSI"));

    // No customer and no vehicle: the joined columns are null.
    result = methods_->Tyomaarayshaku(QStringLiteral("ABC-12"), 0, false);
    ASSERT_EQ(result->recordCount(), 1);
    EXPECT_TRUE(result->fieldByName(QStringLiteral("AP_NIMI")).isNull());
    EXPECT_TRUE(result->fieldByName(QStringLiteral("AJN_MERKKI")).isNull());
}

TEST_P(TyomaarayshakuTest, LogsTheSearchAsReceived)
{
    methods_->Tyomaarayshaku(QStringLiteral(" abc12"), 7, true);
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(isLogLine(lines[0], QStringLiteral(": Työmääräyshaku: rekisterinro= abc12 työmääräysnro=7")));
}

TEST_P(TyomaarayshakuTest, FailureIsLoggedAndGivesNoTable)
{
    db().close();
    EXPECT_EQ(methods_->Tyomaarayshaku(QStringLiteral("ABC-123"), 0, false), nullptr);
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(isLogLine(lines[0], QStringLiteral(": Työmääräyshaku: rekisterinro=ABC-123 työmääräysnro=0")));
    EXPECT_FALSE(
        failureMessage(lines[1], QStringLiteral(" Työmääräyshaku: Työmääräyshaku epäonnistui. Syy: ")).isEmpty())
        << lines[1].toStdString();
}

KRP_INSTANTIATE_ON_BACKENDS(TyomaarayshakuTest);

// --- Tyovaihehaku ------------------------------------------------------------------------------

class TyovaihehakuTest : public WorkshopTest {};

std::vector<QString> koodit(db::Query& q)
{
    std::vector<QString> result;
    for (q.first(); !q.eof(); q.next())
        result.push_back(q.fieldByName(QStringLiteral("TYS_KOODI")).asText());
    std::sort(result.begin(), result.end());
    return result;
}

TEST_P(TyovaihehakuTest, ByCodeAndName)
{
    struct Case {
        const char* name;
        const char* tyokoodi;
        const char* tyonimi;
        std::vector<QString> expected;
    };
    const Case cases[] = {
        // every operation with a code; TYS_NRO 9 has none
        {"all_with_code", "", " ", {"HUOLTO", "ILMASTO", "JARRU-E", "JARRU-T", "KORI", "RENGAS", "VIANHAKU", "ÖLJY"}},
        {"code_trimmed_and_upper_cased", " jarru-e\n", "", {"JARRU-E"}},
        {"name_inside_wildcards", "", "jarru", {"JARRU-E", "JARRU-T"}},
        // the name is not trimmed: a leading blank must match a blank before JARRU
        {"name_keeps_its_blank", "", " jarru", {}},
        {"finnish_letters", "", "öljy", {"ÖLJY"}},
        {"code_and_name", "jarru-t", "jarru", {"JARRU-T"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        methods_->Tyovaihehaku(QString::fromUtf8(c.tyokoodi), QString::fromUtf8(c.tyonimi));
        db::Query* rows = methods_->provider(QStringLiteral("dspTyovaihehaku"));
        ASSERT_EQ(rows, &methods_->sqlTyovaihehaku);
        ASSERT_TRUE(rows->isOpen());
        EXPECT_EQ(koodit(*rows), c.expected);
    }
}

TEST_P(TyovaihehakuTest, LogsTheSearchAndAFailure)
{
    methods_->Tyovaihehaku(QStringLiteral(" jarru"), QStringLiteral("Öljy "));
    db().close();
    methods_->Tyovaihehaku(QStringLiteral("X"), QString());
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(isLogLine(lines[0], QStringLiteral(": Työvaihehaku: työkoodi= jarru työnimi=Öljy ")));
    EXPECT_TRUE(isLogLine(lines[1], QStringLiteral(": Työvaihehaku: työkoodi=X työnimi=")));
    EXPECT_FALSE(failureMessage(lines[2], QStringLiteral(" Työvaihehaku: Työvaihehaku epäonnistui. Syy: ")).isEmpty())
        << lines[2].toStdString();
}

KRP_INSTANTIATE_ON_BACKENDS(TyovaihehakuTest);

// --- Asiakashaku -------------------------------------------------------------------------------

class AsiakashakuTest : public WorkshopTest {};

std::vector<std::int64_t> asiakasnrot(db::Query& q)
{
    std::vector<std::int64_t> result;
    for (q.first(); !q.eof(); q.next())
        result.push_back(q.fieldByName(QStringLiteral("AP_ASIAKASNRO")).asInteger());
    std::sort(result.begin(), result.end());
    return result;
}

TEST_P(AsiakashakuTest, PatternAsSentByTheClient)
{
    testDb().execute(QStringLiteral("INSERT INTO ASIAKPER (AP_ASIAKASNRO, AP_NIMI) VALUES (3000, '')"));
    struct Case {
        const char* name;
        const char* nimihaku;
        std::vector<std::int64_t> expected;
    };
    const Case cases[] = {
        {"upper_case_pattern", "VIRTA%", {1000, 1004}},
        {"not_upper_cased_by_the_server", "virta%", {}},
        {"no_wildcards_added", "VIRTA", {}},
        {"empty_pattern_matches_empty_name", "", {3000}},
        {"finnish_letters", "%ÖHMAN%", {1002}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(methods_->Asiakashaku(QString::fromUtf8(c.nimihaku)), QString());
        db::Query* rows = methods_->provider(QStringLiteral("dspAsiakkaat"));
        ASSERT_TRUE(rows->isOpen());
        EXPECT_EQ(asiakasnrot(*rows), c.expected);
    }
    EXPECT_TRUE(logLines().isEmpty());
}

TEST_P(AsiakashakuTest, AtMost99Customers)
{
    QString script;
    for (int i = 0; i < 120; ++i)
        script +=
            QStringLiteral("INSERT INTO ASIAKPER (AP_ASIAKASNRO, AP_NIMI) VALUES (%1, 'Sarja %1');").arg(5000 + i);
    testDb().execute(script);
    methods_->Asiakashaku(QStringLiteral("SARJA%"));
    EXPECT_EQ(methods_->sqlAsiakashaku.recordCount(), 99);
    EXPECT_EQ(methods_->sqlAsiakashaku.result().columns.size(), 10u);
    EXPECT_EQ(methods_->sqlAsiakashaku.result().columns[0].name.toUpper(), QStringLiteral("AP_ASIAKASNRO"));
}

TEST_P(AsiakashakuTest, FailureTextIsReturnedAndLogged)
{
    db().close();
    const QString result = methods_->Asiakashaku(QStringLiteral("VIRTA%"));
    ASSERT_TRUE(result.startsWith(QStringLiteral("Asiakashaku epäonnistui. Syy: "))) << result.toStdString();
    EXPECT_GT(result.size(), QStringLiteral("Asiakashaku epäonnistui. Syy: ").size());
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(isLogLine(lines[0], QStringLiteral(" Asiakashaku: ") + result));
}

KRP_INSTANTIATE_ON_BACKENDS(AsiakashakuTest);

// --- HaeTyomaarayksenTyot and HaeSisainenSelvitys ----------------------------------------------

class TyomaarayksenTiedotTest : public WorkshopTest {};

TEST_P(TyomaarayksenTiedotTest, WorkLinesAsRecords)
{
    std::optional<TObjectList<types::TTyo>> tyot = methods_->HaeTyomaarayksenTyot(10002);
    ASSERT_TRUE(tyot.has_value());
    ASSERT_EQ(tyot->size(), 2u);
    std::sort(tyot->begin(), tyot->end(),
              [](const types::TTyo& a, const types::TTyo& b) { return a.rivinro < b.rivinro; });
    EXPECT_EQ((*tyot)[0].koodi, QStringLiteral("HUOLTO"));
    EXPECT_EQ((*tyot)[0].tehtava, QStringLiteral("Määräaikaishuolto"));
    EXPECT_EQ((*tyot)[0].rivinro, 1);
    EXPECT_EQ((*tyot)[1].koodi, QStringLiteral("ILMASTO"));
    EXPECT_EQ((*tyot)[1].rivinro, 2);
    EXPECT_FALSE(methods_->sqlYleinen.isOpen());

    // Null columns read as empty texts and 0.
    testDb().execute(QStringLiteral("INSERT INTO MAARTYO (MTR_NRO, MTR_RIVINRO) VALUES (10009, 7)"));
    tyot = methods_->HaeTyomaarayksenTyot(10009);
    ASSERT_TRUE(tyot.has_value());
    ASSERT_EQ(tyot->size(), 1u);
    EXPECT_EQ((*tyot)[0].koodi, QString());
    EXPECT_EQ((*tyot)[0].tehtava, QString());
    EXPECT_EQ((*tyot)[0].rivinro, 7);
}

TEST_P(TyomaarayksenTiedotTest, NoWorkLinesIsNullNotAnEmptyList)
{
    EXPECT_FALSE(methods_->HaeTyomaarayksenTyot(10009).has_value());
    EXPECT_FALSE(methods_->HaeTyomaarayksenTyot(99999).has_value());
    EXPECT_TRUE(logLines().isEmpty());
}

TEST_P(TyomaarayksenTiedotTest, FailureFailsTheCall)
{
    db().close();
    EXPECT_THROW(methods_->HaeTyomaarayksenTyot(10002), db::Error);
    EXPECT_THROW(methods_->HaeSisainenSelvitys(10002), db::Error);
    EXPECT_FALSE(methods_->sqlYleinen.isOpen());
    EXPECT_TRUE(logLines().isEmpty());
}

TEST_P(TyomaarayksenTiedotTest, InternalExplanationWithAndWithoutProductNames)
{
    struct Case {
        const char* name;
        bool tuoterivienNimet;
        std::int32_t tyomaaraysnro;
        const char* expected;
    };
    const Case cases[] = {
        {"written_explanation", false, 10001, "Levyt vielä hyvät"},
        {"written_explanation_wins", true, 10001, "Levyt vielä hyvät"},
        {"empty_explanation_off", false, 10009, ""},
        // product line names in JNRO order, CR LF between, none after the last
        {"product_names", true, 10009, "Sytytyspuolan vianhaku\r\nKäynnistysakku 74 Ah\r\nSytytystulppa, iridium"},
        {"null_explanation_no_products", true, 10002, ""},
        {"no_such_work_order_off", false, 99999, ""},
        {"no_such_work_order_on", true, 99999, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        context_.sisaiseenSelvitykseenTuoterivienNimet = c.tuoterivienNimet;
        EXPECT_EQ(methods_->HaeSisainenSelvitys(c.tyomaaraysnro), QString::fromUtf8(c.expected));
        EXPECT_FALSE(methods_->sqlYleinen.isOpen());
    }
    EXPECT_TRUE(logLines().isEmpty());
}

KRP_INSTANTIATE_ON_BACKENDS(TyomaarayksenTiedotTest);

}  // namespace
}  // namespace krp::test
