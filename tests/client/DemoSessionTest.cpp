// The documented client session against the demo ERP database: its access code and users
// pass the gates, on SQLite and on MariaDB (names and passwords with Nordic letters).
#include "DemoEndpointFixture.h"

#include "client/cli/Cli.h"

#include <sstream>

namespace krp::test {
namespace {

class DemoSessionTest : public DemoEndpointTest {};

TEST_P(DemoSessionTest, TheDemoUsersPassBothGates)
{
    struct Case {
        const char* user;
        const char* password;
        bool passes;
    };
    for (const Case& c :
         {Case{"MATTI", "kissa123", true}, Case{"PEKKA", "Jarru-2026", true}, Case{"VARASTO", "Hylly42", true},
          Case{"ÅSA", "Sjö-2026", true}, Case{"åsa", "Sjö-2026", false}, Case{"ÅSA", "Sjo-2026", false},
          Case{"VARASTO", "hylly42", false}}) {
        client::KrpClient client(clientOptions());
        try {
            client.openSession(demoClient(c.user, c.password));
            EXPECT_TRUE(c.passes) << c.user << " / " << c.password;
            client.closeSession();
        } catch (const client::KrpError& e) {
            EXPECT_FALSE(c.passes) << c.user << ": " << e.what();
            EXPECT_EQ(e.status(), 403);
            EXPECT_EQ(e.error(), "Virheellinen ohjelman käyttäjätunnus tai salasana.");
        }
    }
}

TEST_P(DemoSessionTest, TheReadmeScriptRunsInOneSession)
{
    std::istringstream in(
        "call TarkistaKayttooikeus [\"\", \"VARASTO\", \"Hylly42\"]\n"
        "call Ping [\"Kairanet\", \"pda-7\"]\n"
        "provider dspTuotelista\n"
        "call SovellusSuljetaan [\"Kairanet\", \"pda-7\"]\n");
    std::ostringstream out, err;
    const std::map<std::string, std::string> env = {
        {"KRP_PORT", std::to_string(container->listeningPort())},
        {"KRP_CA", certificate.certificateFile()},
        {"KRP_TOKEN", "Kx7-Ruoste-Tunturi-2026"},
        {"KRP_APP_USER", "VARASTO"},
        {"KRP_APP_PASSWORD", "Hylly42"},
    };
    const int status = cli::runCli(
        {"script", "-"},
        [&](const char* name) -> std::optional<std::string> {
            const auto it = env.find(name);
            return it == env.end() ? std::nullopt : std::optional<std::string>(it->second);
        },
        in, out, err);
    EXPECT_EQ(status, 0) << err.str();
    EXPECT_EQ(out.str(), "{\"result\":true}\n{\"result\":null}\n{\"columns\":[],\"rows\":[]}\n{\"result\":null}\n");
    EXPECT_TRUE(pumpUntil([&] { return viewUpdates > 0 && view.lines.isEmpty(); }));
}

INSTANTIATE_TEST_SUITE_P(, DemoSessionTest, ::testing::Values(Backend::Sqlite, Backend::MariaDb), backendName);

}  // namespace
}  // namespace krp::test
