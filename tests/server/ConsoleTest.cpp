// The operator console on a running container with real TLS on the demo database: who may
// read it, its headers, and that what it shows never holds a password, an access code or a
// session id, while it does show the clients and the log lines of their calls.
#include "DemoEndpointFixture.h"
#include "RawTlsClient.h"

#include "credentials/Palvelintunnukset.h"
#include "host/ClientRegistry.h"
#include "server/RemoteEndpoint.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <QRegularExpression>

#include <cstdlib>
#include <string>
#include <vector>

namespace krp::test {
namespace {

struct RawAnswer {
    int status = 0;
    std::string head;  // status line and headers
    std::string body;
};

class ConsoleTest : public DemoEndpointTest {
protected:
    void SetUp() override
    {
        DemoEndpointTest::SetUp();
        if (IsSkipped())
            return;
        // Only 127.0.0.1 is listed: another loopback address is refused like any other.
        replaceContainer([this](ServerContainerOptions& o) {
            o.consoleReaders = {"127.0.0.1"};
            o.clients = [this] { return registry->snapshot(); };
        });
    }

    // One GET over its own TLS connection from `from` (a loopback address).
    RawAnswer get(const std::string& target, const std::string& from = "127.0.0.1")
    {
        RawTlsClient raw(container->listeningPort(), {}, from);
        EXPECT_TRUE(raw.handshake());
        EXPECT_TRUE(raw.send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"));
        const std::string all = raw.readUntilClosed();
        RawAnswer a;
        a.status = statusOf(all);
        const auto split = all.find("\r\n\r\n");
        a.head = all.substr(0, split);
        a.body = split == std::string::npos ? std::string() : all.substr(split + 4);
        return a;
    }

    static std::string header(const RawAnswer& a, const std::string& name)
    {
        const QRegularExpression re(QStringLiteral("\r\n%1: ([^\r\n]*)").arg(QString::fromStdString(name)),
                                    QRegularExpression::CaseInsensitiveOption);
        const auto m = re.match(QString::fromStdString(a.head));
        return m.hasMatch() ? m.captured(1).toStdString() : std::string();
    }

    // The secrets that must never appear in what the console sends.
    std::vector<std::string> secrets(const std::string& sessionId) const
    {
        std::vector<std::string> s = {sessionId, "Kx7-Ruoste-Tunturi-2026", "Hylly42", types::PALVELIMEN_SALASANA};
        // The database's own password, when its connection string has one (MariaDB). The test
        // server's password is a short word, so it is looked for with its key.
        const QRegularExpression pwd(QStringLiteral("PWD=([^;]+)"), QRegularExpression::CaseInsensitiveOption);
        const auto m = pwd.match(QString::fromUtf8(std::getenv("KRP_TEST_ODBC") ? std::getenv("KRP_TEST_ODBC") : ""));
        if (GetParam() == Backend::MariaDb && m.hasMatch())
            s.push_back("PWD=" + m.captured(1).toStdString());
        return s;
    }
};

TEST_P(ConsoleTest, OnlyListedAddressesReadAnyConsolePath)
{
    for (const std::string target : {"/console", "/console/console.js", "/console/console.css", "/console/state",
                                     "/console/state?since=5", "/console/nothing"}) {
        const RawAnswer refused = get(target, "127.0.0.2");
        EXPECT_EQ(refused.status, 403) << target;
        EXPECT_EQ(refused.body.find("Kairanet"), std::string::npos) << target;
        EXPECT_EQ(header(refused, "X-Content-Type-Options"), "nosniff") << target;
    }
    EXPECT_EQ(get("/console").status, 200);
    EXPECT_EQ(get("/console/nothing").status, 404);
    EXPECT_EQ(get("/console/state?since=x").status, 400);
    EXPECT_EQ(get("/console/state?since=-1").status, 400);

    // The setting's own addresses, in any written form.
    struct Case {
        std::vector<std::string> readers;
        const char* from;
        int status;
    };
    for (const Case& c : {Case{{"127.0.0.2"}, "127.0.0.2", 200}, Case{{"::ffff:127.0.0.2"}, "127.0.0.2", 200},
                          Case{{"127.0.0.1", "127.0.0.3"}, "127.0.0.2", 403}, Case{{}, "127.0.0.1", 403}}) {
        replaceContainer([&](ServerContainerOptions& o) { o.consoleReaders = c.readers; });
        EXPECT_EQ(get("/console", c.from).status, c.status) << c.from << " with " << c.readers.size() << " listed";
    }
}

TEST_P(ConsoleTest, AnswersCarryStrictHeadersAndTheirOwnTypes)
{
    struct Case {
        const char* target;
        const char* contentType;
    };
    for (const Case& c :
         {Case{"/console", "text/html; charset=utf-8"}, Case{"/console/console.css", "text/css; charset=utf-8"},
          Case{"/console/console.js", "text/javascript; charset=utf-8"},
          Case{"/console/state?since=0", "application/json"}}) {
        const RawAnswer a = get(c.target);
        ASSERT_EQ(a.status, 200) << c.target;
        EXPECT_EQ(header(a, "Content-Type"), c.contentType) << c.target;
        const std::string csp = header(a, "Content-Security-Policy");
        EXPECT_NE(csp.find("default-src 'none'"), std::string::npos) << csp;
        EXPECT_NE(csp.find("script-src 'self';"), std::string::npos) << csp;
        EXPECT_NE(csp.find("frame-ancestors 'none'"), std::string::npos) << csp;
        EXPECT_EQ(csp.find("unsafe-inline"), std::string::npos) << csp;
        EXPECT_EQ(header(a, "X-Content-Type-Options"), "nosniff");
        EXPECT_EQ(header(a, "Cache-Control"), "no-store");
    }
    // The page has no inline script or style and loads nothing from elsewhere.
    const std::string page = get("/console").body;
    const QRegularExpression inlineScript(QStringLiteral("<script(?![^>]*\\bsrc=)[^>]*>"));
    EXPECT_FALSE(QString::fromStdString(page).contains(inlineScript));
    EXPECT_EQ(page.find("style="), std::string::npos);
    EXPECT_EQ(page.find("<style"), std::string::npos);
    EXPECT_EQ(page.find("http"), std::string::npos) << "no address of another server";
    // The script puts texts in as text only.
    const std::string script = get("/console/console.js").body;
    EXPECT_EQ(script.find("innerHTML"), std::string::npos);
    EXPECT_EQ(script.find("insertAdjacentHTML"), std::string::npos);
}

TEST_P(ConsoleTest, ShowsClientsAndLogLinesButNoPasswordAccessCodeOrSessionId)
{
    auto client = std::make_unique<client::KrpClient>(clientOptions());
    const std::string markup = "<img src=x onerror=alert(1)><script>alert(2)</script>";
    client->openSession({markup, "Kx7-Ruoste-Tunturi-2026", "VARASTO", "Hylly42"});
    const std::string sessionId = client->sessionId();
    ASSERT_FALSE(sessionId.empty());
    client->call("TarkistaKayttooikeus", R"(["avain", "VARASTO", "Hylly42"])");
    client->call("Ping", R"([")" + std::string("<b>Sovellus</b>") + R"(", "konsoli-pda-1"])");
    client->call("MonivaiheinenTuotehaku", R"([0, "konsolihaku-17"])");
    ASSERT_TRUE(
        pumpUntil([&] { return logLines().join(QLatin1Char('\n')).contains(QStringLiteral("konsolihaku-17")); }));
    ASSERT_TRUE(pumpUntil([&] { return !registry->snapshot()->rows.empty(); }));

    const RawAnswer a = get("/console/state?since=0");
    ASSERT_EQ(a.status, 200) << a.body;
    rapidjson::Document state;
    state.Parse(a.body.c_str());
    ASSERT_FALSE(state.HasParseError()) << a.body;
    EXPECT_STREQ(state["state"].GetString(), "palvelee");
    EXPECT_EQ(state["port"].GetInt(), container->listeningPort());
    EXPECT_EQ(state["sessions"].GetInt(), 1);
    EXPECT_GE(state["connections"].GetInt(), 1);
    EXPECT_TRUE(state["databaseOpen"].GetBool());
    EXPECT_FALSE(std::string(state["database"].GetString()).empty());
    ASSERT_EQ(state["clients"].Size(), 1u);
    EXPECT_STREQ(state["clients"][0]["id"].GetString(), "konsoli-pda-1");
    EXPECT_STREQ(state["clients"][0]["application"].GetString(), "<b>Sovellus</b>");

    // The log lines of the opening (with the markup as the client sent it) and of the search.
    std::string lines;
    for (const auto& line : state["log"]["lines"].GetArray())
        lines += std::string(line.GetString()) + "\n";
    EXPECT_NE(lines.find("Saatiin sovellukselta \"" + markup + "\""), std::string::npos) << lines;
    EXPECT_NE(lines.find("hakukoodi=konsolihaku-17"), std::string::npos) << lines;
    const long long last = state["log"]["last"].GetInt64();

    // Only newer lines after that: none until something happens.
    rapidjson::Document later;
    later.Parse(get("/console/state?since=" + std::to_string(last)).body.c_str());
    EXPECT_EQ(later["log"]["lines"].Size(), 0u);

    for (const std::string target : {"/console", "/console/console.js", "/console/state?since=0"}) {
        const RawAnswer answer = get(target);
        for (const std::string& secret : secrets(sessionId)) {
            EXPECT_EQ(answer.body.find(secret), std::string::npos) << target << " shows \"" << secret << "\"";
            EXPECT_EQ(answer.head.find(secret), std::string::npos) << target;
        }
    }
}

TEST_P(ConsoleTest, IsAnsweredWhileTheServiceStopsAndSaysSo)
{
    // Connections open before the stop (the listener closes first), one allowed and one not.
    RawTlsClient listed(container->listeningPort());
    RawTlsClient other(container->listeningPort(), {}, "127.0.0.2");
    ASSERT_TRUE(listed.handshake());
    ASSERT_TRUE(other.handshake());
    container->beginStop();
    const std::string request = "GET /console/state HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    ASSERT_TRUE(listed.send(request));
    ASSERT_TRUE(other.send(request));
    const std::string answer = listed.readUntilClosed();
    EXPECT_EQ(statusOf(answer), 200) << answer;
    EXPECT_NE(answer.find("\"state\":\"pysaytetaan\""), std::string::npos) << answer;
    EXPECT_EQ(statusOf(other.readUntilClosed()), 403);
    container->finishStop();
}

KRP_INSTANTIATE_ON_BACKENDS(ConsoleTest);

}  // namespace
}  // namespace krp::test
