// krpalvelin-cli: its command line, and whole runs against a running server.
#include "EndpointFixture.h"

#include "client/cli/Cli.h"
#include "types/UTyypit.h"

#include <map>
#include <sstream>

namespace krp::test {
namespace {

using cli::CliOptions;
using cli::Step;

cli::Environment environment(std::map<std::string, std::string> values)
{
    return [values = std::move(values)](const char* name) -> std::optional<std::string> {
        const auto it = values.find(name);
        if (it == values.end())
            return std::nullopt;
        return it->second;
    };
}

TEST(CliOptionsTest, OptionsBeatTheEnvironmentWhichBeatsTheDefaults)
{
    const auto none = cli::parseCommandLine({"session"}, environment({}));
    EXPECT_EQ(none.client.transport.host, "127.0.0.1");
    EXPECT_EQ(none.client.transport.port, 14002);
    EXPECT_TRUE(none.client.transport.verifyPeer);
    EXPECT_FALSE(none.client.user.has_value()) << "the compiled-in credentials";
    EXPECT_EQ(none.connect.application, "Kairanet");

    const auto env = environment({{"KRP_HOST", "palvelin"},
                                  {"KRP_PORT", "15000"},
                                  {"KRP_USER", "u"},
                                  {"KRP_PASSWORD", "p"},
                                  {"KRP_TOKEN", "t"},
                                  {"KRP_APP_USER", "MATTI"},
                                  {"KRP_APP_PASSWORD", "s"},
                                  {"KRP_SESSION", "abc"},
                                  {"KRP_INSECURE", "1"}});
    const auto fromEnv = cli::parseCommandLine({"call", "Ping", R"(["Kairanet","x"])"}, env);
    EXPECT_EQ(fromEnv.client.transport.host, "palvelin");
    EXPECT_EQ(fromEnv.client.transport.port, 15000);
    EXPECT_FALSE(fromEnv.client.transport.verifyPeer);
    EXPECT_EQ(fromEnv.client.user, "u");
    EXPECT_EQ(fromEnv.client.password, "p");
    EXPECT_EQ(fromEnv.connect.token, "t");
    EXPECT_EQ(fromEnv.connect.userName, "MATTI");
    EXPECT_EQ(fromEnv.connect.password, "s");
    EXPECT_EQ(fromEnv.session, "abc");
    ASSERT_EQ(fromEnv.steps.size(), 1u);
    EXPECT_EQ(fromEnv.steps[0].name, "Ping");
    EXPECT_EQ(fromEnv.steps[0].arguments, R"(["Kairanet","x"])");

    const auto fromOptions = cli::parseCommandLine(
        {"--host", "h2", "--port=443", "call", "TarkistaKayttooikeus", "--token", "t2", "--ca", "/tmp/ca.pem"},
        environment({{"KRP_HOST", "palvelin"}, {"KRP_TOKEN", "t"}}));
    EXPECT_EQ(fromOptions.client.transport.host, "h2");
    EXPECT_EQ(fromOptions.client.transport.port, 443);
    EXPECT_EQ(fromOptions.connect.token, "t2");
    EXPECT_EQ(fromOptions.client.transport.caFile, "/tmp/ca.pem");
    EXPECT_TRUE(fromOptions.client.transport.verifyPeer);
    EXPECT_EQ(fromOptions.steps[0].arguments, "[]") << "no arguments: an empty array";
}

TEST(CliOptionsTest, UnusableCommandLinesAreUsageErrors)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"hae"},
        {"call"},
        {"call", "Ping", "[]", "extra"},
        {"provider"},
        {"close"},  // no session
        {"session", "--port", "0"},
        {"session", "--port", "70000"},
        {"session", "--port", "14002x"},
        {"session", "--port"},
        {"session", "--timeout", "0"},
        {"session", "--tunnus", "x"},
        {"session", "--insecure", "--ca", "x.pem"},
        {"script"},
    };
    for (const auto& args : cases) {
        std::string joined;
        for (const auto& a : args)
            joined += a + " ";
        EXPECT_THROW(cli::parseCommandLine(args, environment({})), cli::UsageError) << joined;
    }
    EXPECT_EQ(cli::parseCommandLine({"session", "--help"}, environment({})).command, CliOptions::Command::Help);
}

TEST(CliOptionsTest, ScriptLines)
{
    const auto steps = cli::parseScript(
        "# a comment\n"
        "\n"
        "call TarkistaKayttooikeus [\"\", \"MATTI\", \"x y\"]\r\n"
        "  call Ping\n"
        "provider dspTuotelista\n"
        "close\n");
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[0].kind, Step::Kind::Call);
    EXPECT_EQ(steps[0].name, "TarkistaKayttooikeus");
    EXPECT_EQ(steps[0].arguments, R"(["", "MATTI", "x y"])");
    EXPECT_EQ(steps[0].line, 3);
    EXPECT_EQ(steps[1].arguments, "[]");
    EXPECT_EQ(steps[2].kind, Step::Kind::Provider);
    EXPECT_EQ(steps[2].name, "dspTuotelista");
    EXPECT_EQ(steps[3].kind, Step::Kind::Close);

    for (const char* bad : {"hae Ping", "call", "provider", "provider a b", "close now"})
        EXPECT_THROW(cli::parseScript(bad), cli::UsageError) << bad;
}

class CliRunTest : public EndpointFixture {
protected:
    struct Run {
        int status;
        std::string out, err;
    };

    // Runs krpalvelin-cli against the fixture's server with the valid client's properties.
    Run run(std::vector<std::string> args, const std::string& input = {}, std::map<std::string, std::string> env = {})
    {
        env.emplace("KRP_PORT", std::to_string(container->listeningPort()));
        env.emplace("KRP_CA", certificate.certificateFile());
        env.emplace("KRP_TOKEN", kPaasykoodi.toStdString());
        env.emplace("KRP_APP_USER", kKayttaja.toStdString());
        env.emplace("KRP_APP_PASSWORD", kSalasana.toStdString());
        std::istringstream in(input);
        std::ostringstream out, err;
        const int status = cli::runCli(args, environment(env), in, out, err);
        return {status, out.str(), err.str()};
    }
};

TEST_F(CliRunTest, ScriptRunsCallAndProviderInOneSessionAndClosesIt)
{
    const auto r = run({"script", "-"},
                       "call TarkistaKayttooikeus [\"\", \"MATTI\", \"Salainen1\"]\n"
                       "call AvaaTuotelista [2]\n"
                       "provider dspTuotelista\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"result\":true}\n"
              "{\"result\":null}\n"
              "{\"columns\":[{\"name\":\"NRO\",\"type\":\"integer\"},{\"name\":\"NIMI\",\"type\":\"text\"},"
              "{\"name\":\"HINTA\",\"type\":\"float\"}],"
              "\"rows\":[[1,\"Tuote nro 1 äö\",1.25],[2,\"Tuote nro 2 äö\",2.5]]}\n");
    EXPECT_TRUE(pumpUntil([&] { return container->sessions().size() == 0; })) << "the script's own session is closed";
}

TEST_F(CliRunTest, SessionCommandsShareOneSession)
{
    const auto opened = run({"session"});
    ASSERT_EQ(opened.status, 0) << opened.err;
    const std::string id = opened.out.substr(0, opened.out.find('\n'));
    EXPECT_EQ(opened.out, id + "\n");

    const auto call = run({"call", "AvaaTuotelista", "[3]"}, {}, {{"KRP_SESSION", id}});
    EXPECT_EQ(call.status, 0) << call.err;
    const auto rows = run({"--session", id, "--pretty", "provider", "dspTuotelista"});
    EXPECT_EQ(rows.status, 0) << rows.err;
    EXPECT_NE(rows.out.find("\n  \"rows\": [\n"), std::string::npos) << rows.out;
    EXPECT_NE(rows.out.find("\"Tuote nro 3 äö\""), std::string::npos) << rows.out;
    EXPECT_EQ(container->sessions().size(), 1u) << "a given session stays open";

    EXPECT_EQ(run({"close", "--session", id}).status, 0);
    EXPECT_EQ(container->sessions().size(), 0u);
    const auto late = run({"call", "Ping", R"(["Kairanet","x"])", "--session", id});
    EXPECT_EQ(late.status, 1);
    EXPECT_NE(late.err.find("HTTP 401"), std::string::npos) << late.err;
}

TEST_F(CliRunTest, ErrorAnswersAndFailuresGiveTheirExitStatus)
{
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::map<std::string, std::string> env;
        int status;
        std::string err;  // part of standard error
    };
    const TestCertificate stranger;  // a certificate the server does not use
    const Case cases[] = {
        {"refused by the connect event", {"session"}, {{"KRP_TOKEN", "väärä"}}, 1, "HTTP 403: Virheellinen pääsykoodi"},
        {"wrong fixed credentials", {"session", "--password", "x"}, {}, 1, "HTTP 401"},
        {"raised in the method", {"call", "Virhe", R"(["Ei onnistu"])"}, {}, 1, "HTTP 500: Ei onnistu"},
        {"bad arguments", {"call", "Ping", "[1]"}, {}, 1, "HTTP 400"},
        {"no such method", {"call", "EiOle"}, {}, 1, "HTTP 404"},
        {"certificate not trusted", {"session"}, {{"KRP_CA", stranger.certificateFile()}}, 3, "--insecure"},
        {"certificate file missing",
         {"session"},
         {{"KRP_CA", stranger.certificateFile() + ".puuttuu"}},
         3,
         "certificate file"},
        {"nobody listening", {"session", "--port", "1"}, {}, 3, "connect"},
        {"usage", {"call"}, {}, 2, "Usage"},
    };
    for (const Case& c : cases) {
        const auto r = run(c.args, {}, c.env);
        EXPECT_EQ(r.status, c.status) << c.name << ": " << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.name << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.name;
    }
    const auto insecure = run({"--insecure", "session"}, {}, {{"KRP_CA", ""}});
    EXPECT_NE(insecure.status, 3) << insecure.err;

    // A script stops at its first error answer, naming the line, and still closes its session.
    const std::size_t open = container->sessions().size();
    const auto script = run({"script", "-"}, "call KaikuTeksti [\"a\"]\ncall EiOle\ncall KaikuTeksti [\"b\"]\n");
    EXPECT_EQ(script.status, 1);
    EXPECT_EQ(script.out, "{\"result\":\"a\"}\n");
    EXPECT_NE(script.err.find("script line 2: HTTP 404"), std::string::npos) << script.err;
    EXPECT_EQ(container->sessions().size(), open);
}

TEST_F(CliRunTest, HelpNamesEveryCommandAndVariable)
{
    const auto r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* word : {"session", "call METHOD", "provider NAME", "close", "script FILE", "--insecure", "--ca",
                             "KRP_USER", "KRP_PASSWORD", "KRP_TOKEN", "KRP_APP_USER", "KRP_APP_PASSWORD", "KRP_SESSION",
                             "KRP_HOST", "KRP_PORT", "Exit status"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
}

}  // namespace
}  // namespace krp::test
