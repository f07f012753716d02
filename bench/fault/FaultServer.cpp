#include "FaultServer.h"

#include "db/Database.h"
#include "db/Query.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <thread>

namespace krp::bench {

FaultServer::FaultServer(FaultSetup setup) : setup_(std::move(setup)), dir_("krp-fault-matrix")
{
    writeSelfSignedCertificate(dir_.path());
}

FaultServer::~FaultServer() = default;

void FaultServer::start()
{
    if (program_) {
        program_->start();
        return;
    }
    ProgramUnderTest::Settings s;
    s.program = setup_.program;
    s.directory = dir_.path();
    s.database = "odbc:" + setup_.odbc;
    s.port = static_cast<std::uint16_t>(setup_.port);
    s.databaseSettings = "Lauseen_aikaraja=" + std::to_string(setup_.statementLimit) +
                         "\nYhteyden_aikaraja=" + std::to_string(setup_.statementLimit) +
                         "\nYhteysjonon_aikaraja=" + std::to_string(setup_.statementLimit) + "\n";
    s.extraSettings = "[Toistot]\nTiedosto=" + (dir_.path() / "toistot.sqlite").string() + "\n";
    s.loopbackLimits = false;
    s.headless = false;
    s.deathSignal = SIGKILL;
    program_ = std::make_unique<ProgramUnderTest>(std::move(s));
}

void FaultServer::stop(int signal)
{
    if (program_)
        program_->stop(signal, signal == SIGKILL ? std::chrono::seconds(10) : std::chrono::seconds(60));
}

bool FaultServer::waitUntilServing(std::chrono::seconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    client::KrpClientOptions o = clientOptions();
    o.callRepeats = 0;
    while (std::chrono::steady_clock::now() < end) {
        try {
            client::KrpClient c(o);
            c.openSession(faultAccount());
            c.closeSession();
            return true;
        } catch (const client::KrpError&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    return false;
}

client::KrpClientOptions FaultServer::clientOptions() const
{
    client::KrpClientOptions c;
    c.transport.port = static_cast<std::uint16_t>(setup_.port);
    c.transport.caFile = (dir_.path() / "test.pem").string();
    c.transport.verifyPeer = true;
    // A terminal repeats until the server is back (SIGTERM's stop, a restart while the
    // database starts); the waits double from 0.1 s up to 4 s.
    c.callRepeats = 40;
    c.repeatPause = std::chrono::milliseconds(100);
    return c;
}

client::ConnectProperties faultAccount()
{
    return {"Kairanet", "Kx7-Ruoste-Tunturi-2026", "VARASTO", "Hylly42"};
}

std::unique_ptr<FaultServer> servingServer(const FaultSetup& setup)
{
    auto server = std::make_unique<FaultServer>(setup);
    try {
        server->start();
        if (server->waitUntilServing(std::chrono::seconds(60)))
            return server;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "krp-fault-bench: %s\n", e.what());
    }
    std::fprintf(stderr, "krp-fault-bench: the server did not start serving\n");
    return nullptr;
}

db::ConnectionSettings odbcSettings(const FaultSetup& setup)
{
    db::ConnectionSettings s;
    s.kind = db::ConnectionSettings::Kind::Odbc;
    s.odbcConnectionString = QString::fromStdString(setup.odbc);
    s.limits.connectSeconds = 2;
    s.limits.statementSeconds = 10;
    s.limits.poolWaitSeconds = 10;
    return s;
}

pid_t mariaDbPid(const FaultSetup& setup)
{
    std::ifstream in(setup.mariaDbDir + "/mariadb.pid");
    long pid = 0;
    in >> pid;
    return static_cast<pid_t>(pid);
}

int killDatabaseConnections(const FaultSetup& setup)
{
    int kills = 0;
    try {
        db::Database admin;
        admin.open(odbcSettings(setup));
        db::Query q(admin);
        q.setSql({"SELECT ID FROM information_schema.PROCESSLIST", "WHERE DB=DATABASE() AND ID<>CONNECTION_ID()"});
        for (q.open(); !q.eof(); q.next()) {
            db::Query kill(admin);
            kill.addLine(QStringLiteral("KILL CONNECTION %1").arg(q.field(0).asInteger()));
            try {
                kill.execute();
                ++kills;
            } catch (const db::Error&) {
            }
        }
    } catch (const std::exception&) {
    }
    return kills;
}

namespace {

void runStartScript(const FaultSetup& setup, const std::string& arguments)
{
    std::smatch port;
    const std::regex portPattern("PORT=(\\d+)", std::regex::icase);
    std::string env;
    if (std::regex_search(setup.odbc, port, portPattern))
        env = "KRP_MARIADB_PORT=" + port[1].str() + " ";
    const std::string command =
        env + KRP_SOURCE_DIR "/scripts/start-mariadb " + arguments + " '" + setup.mariaDbDir + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

}  // namespace

void stopMariaDb(const FaultSetup& setup)
{
    runStartScript(setup, "--stop");
}

void startMariaDb(const FaultSetup& setup)
{
    runStartScript(setup, "");
}

}  // namespace krp::bench
