// krp-body-memory: what large legal method calls cost the program while their bodies are parsed
// and converted. Starts krpalvelin on the demo SQLite database, opens one session per client and
// sends CALLS calls of LisaaVarastoontulorivit at once, each some MEGABYTES MiB long, and reports the answers and the program's peak resident memory (VmHWM) before and after.
// A trigger refuses inserts into the staging table, so each call ends at its first row: what is
// measured is the body's reading, parsing and conversion into records, not SQLite's work.
//
//   krp-body-memory [--program PATH] [--calls 16] [--megabytes 16] [--rounds 1] [--settings TEXT]
//                   [--shape rows|zeros|text|numbers]
// Shapes: rows, a list of rows as a terminal sends them; zeros, the same rows with every number
// 0 and every text empty (the most values for their bytes); text, one row whose product code is
// the whole body; numbers, a list of zeros in place of the rows (no legal call: what a
// hostile client can make the parser hold).
#include "support/BenchSetup.h"
#include "support/ProcessStats.h"
#include "support/ProgramUnderTest.h"
#include "support/SearchDatabase.h"
#include "client/KrpClient.h"

#include <sqlite3.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace krp::bench;

namespace {

struct Options {
    std::string program = KRP_PROGRAM;
    int calls = 16;
    int megabytes = 16;
    int rounds = 1;
    std::string settings;
    std::string shape = "rows";
};

Options parseOptions(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            throw std::runtime_error("option " + arg + " needs a value");
        const std::string value = argv[++i];
        if (arg == "--program")
            o.program = value;
        else if (arg == "--calls")
            o.calls = std::stoi(value);
        else if (arg == "--megabytes")
            o.megabytes = std::stoi(value);
        else if (arg == "--rounds")
            o.rounds = std::stoi(value);
        else if (arg == "--settings")
            o.settings = value;
        else if (arg == "--shape")
            o.shape = value;
        else
            throw std::runtime_error("unknown option " + arg);
    }
    return o;
}

void refuseStagedRows(const std::filesystem::path& file)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK)
        throw std::runtime_error("cannot open " + file.string());
    char* error = nullptr;
    const int rc = sqlite3_exec(db,
                                "CREATE TRIGGER BENCH_NO_ROWS BEFORE INSERT ON KERUUOSTOTILAUS "
                                "BEGIN SELECT RAISE(ABORT, 'the benchmark keeps no rows'); END",
                                nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        throw std::runtime_error("cannot create the trigger: " + message);
}

// The arguments of LisaaVarastoontulorivit, just under `bytes` long, in the shape `shape`.
std::string callBody(const std::string& shape, std::size_t bytes)
{
    if (shape == "numbers") {
        std::string zeros = "[[0";
        while (zeros.size() + 4 < bytes)
            zeros += ",0";
        return zeros + "]]";
    }
    const bool zeros = shape == "zeros";
    if (shape == "text") {
        const std::string head =
            R"([{"type":"System.Generics.Collections.TObjectList<UTyypit.TVarastoontulorivi>","id":1,)"
            R"("fields":{"FOwnsObjects":true,"FListHelper":[1],"FItems":[{"type":"UTyypit.TVarastoontulorivi",)"
            R"("id":2,"fields":{"id":"R1","tuotekoodi":")";
        const std::string tail = R"("}}]}}])";
        return head + std::string(bytes - head.size() - tail.size(), 'x') + tail;
    }
    if (!zeros && shape != "rows")
        throw std::runtime_error("unknown shape " + shape);
    const std::string head = R"([{"type":"System.Generics.Collections.TObjectList<UTyypit.TVarastoontulorivi>","id":1,)"
                             R"("fields":{"FOwnsObjects":true,"FListHelper":[)";
    std::string items;
    long count = 0;
    const std::size_t room = bytes - head.size() - 64;
    for (;;) {
        const std::string n = std::to_string(count + 2);
        std::string row =
            zeros ? R"({"type":"UTyypit.TVarastoontulorivi","id":)" + n +
                        R"(,"fields":{"id":"","ostotilausnro":0,"tilausrivinro":0,"toimittajanro":0,"tuotekoodi":"",)"
                        R"("saapuvamaara":0,"kerattymaara":0,"keruupaateid":""}})"
                  : R"({"type":"UTyypit.TVarastoontulorivi","id":)" + n + R"(,"fields":{"id":"R)" + n +
                        R"(","ostotilausnro":)" + n + R"(,"tilausrivinro":1,"toimittajanro":7,"tuotekoodi":"T)" + n +
                        R"(","saapuvamaara":2.5,"kerattymaara":0,"keruupaateid":"pda-1"}})";
        if (items.size() + row.size() + 1 > room)
            break;
        if (count > 0)
            items += ',';
        items += row;
        ++count;
    }
    return head + std::to_string(count) + R"(],"FItems":[)" + items + "]}}]";
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        const Options o = parseOptions(argc, argv);
        startWatchdog("krp-body-memory", std::chrono::seconds(600));
        TempDirectory dir("krp-body-memory-");
        writeSelfSignedCertificate(dir.path());
        createSearchDatabase(dir.path() / "erp.sqlite", std::filesystem::path(KRP_SOURCE_DIR) / "db");
        refuseStagedRows(dir.path() / "erp.sqlite");
        ProgramUnderTest::Settings settings;
        settings.program = o.program;
        settings.directory = dir.path();
        settings.database = "sqlite:erp.sqlite";
        settings.extraSettings = o.settings;
        ProgramUnderTest program(settings);

        krp::client::KrpClientOptions clientOptions;
        clientOptions.transport.port = program.port();
        clientOptions.transport.caFile = (dir.path() / "test.pem").string();
        clientOptions.transport.verifyPeer = true;
        clientOptions.transport.timeout = std::chrono::seconds(120);
        clientOptions.callRepeats = 0;
        const krp::client::ConnectProperties account{BenchAccount::application, BenchAccount::accessCode,
                                                     BenchAccount::user, BenchAccount::password};
        std::vector<std::unique_ptr<krp::client::KrpClient>> clients;
        const auto connect = [&](int i) {
            clients[i] = std::make_unique<krp::client::KrpClient>(clientOptions);
            clients[i]->openSession(account);
        };
        clients.resize(o.calls);
        for (int i = 0; i < o.calls; ++i)
            connect(i);
        const std::string body = callBody(o.shape, static_cast<std::size_t>(o.megabytes) << 20);
        const MemoryUse before = memoryOf(program.pid());
        std::printf(
            "%d calls of LisaaVarastoontulorivit at once, %s, %zu bytes each; krpalvelin peak resident "
            "memory before: %ld MiB\n",
            o.calls, o.shape.c_str(), body.size(), before.peakKiB / 1024);

        for (int round = 0; round < o.rounds; ++round) {
            std::mutex mutex;
            std::map<std::string, int> answers;
            std::map<std::string, std::string> samples;  // the first answer of each outcome
            std::atomic<int> ready{0};
            std::vector<std::thread> threads;
            for (int i = 0; i < o.calls; ++i) {
                threads.emplace_back([&, i] {
                    ++ready;
                    while (ready.load() < o.calls)
                        std::this_thread::yield();
                    std::string answer;
                    std::string outcome;
                    try {
                        const auto response =
                            clients[i]->transport().request("POST", "/api/v1/methods/LisaaVarastoontulorivit", body,
                                                            {{"Authorization", "Bearer " + clients[i]->sessionId()}});
                        answer = response.body;
                        outcome = std::to_string(response.status);
                    } catch (const std::exception& e) {
                        outcome = std::string("failed: ") + e.what();
                    }
                    const std::lock_guard lock(mutex);
                    if (++answers[outcome] == 1)
                        samples[outcome] = answer.substr(0, 160);
                });
            }
            for (auto& t : threads)
                t.join();
            const MemoryUse after = memoryOf(program.pid());
            std::printf("round %d: answers", round + 1);
            for (const auto& [outcome, n] : answers)
                std::printf(" %s x%d", outcome.c_str(), n);
            std::printf("; peak resident memory %ld MiB, resident now %ld MiB\n", after.peakKiB / 1024,
                        after.rssKiB / 1024);
            for (const auto& [outcome, sample] : samples)
                std::printf("  %s: %s\n", outcome.c_str(), sample.c_str());
            // Connections answered 503 were closed: open them again for the next round.
            for (int i = 0; i < o.calls; ++i)
                connect(i);
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "krp-body-memory: %s\n", e.what());
        return 1;
    }
}
