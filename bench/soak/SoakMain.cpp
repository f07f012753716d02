// krp-soak: a long mixed load against the service, as a warehouse with 16 terminals makes it:
// sessions opening and closing, product searches with their provider fetch, purchase-order
// lines, staging writes and pings, paced to a steady rate. Prints every method's latency
// (p50, p99, max), the longest calls, and a timeline of stalls: stretches in which calls took
// longer than the stall limit, with the methods they hit.
//
//   krp-soak                               10 minutes, 16 clients, 174 calls/s
//   krp-soak --duration 60 --stall-ms 500  a minute, calls over 500 ms count as stalled
//   krp-soak --dump-threads DIR            while a request is stalled, what every server thread
//                                          waits for (from /proc, without stopping the server)
//                                          goes to DIR/stall-SECONDS.txt
//   krp-soak --duration 3600 --settings "[Loki]\nRivimaara=20000"
//                                          an hour, with the event log's limit lowered
//
// The server is the program itself (krpalvelin, headless) on the demo ERP database in SQLite,
// made by scripts/create-demo-db; KRP_BENCH_SERVER_WRAPPER="strace -f -T -o FILE" wraps it. Its
// resident memory is sampled every --sample seconds and printed as a timeline: once the event
// log holds its limit, the memory must stop growing.
#include "support/BenchSetup.h"
#include "support/LoadGenerator.h"
#include "support/OptionValues.h"
#include "support/ProcessStats.h"
#include "support/ProgramUnderTest.h"
#include "support/ServerMetrics.h"

#include "client/KrpClient.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace krp::bench {
namespace {

using Clock = std::chrono::steady_clock;

struct SoakOptions {
    double durationSeconds = 600;
    unsigned clients = 16;
    double callsPerSecond = 174;
    double stallMs = 1000;
    std::string dumpThreads;            // directory for the server's thread states during stalls; empty: none
    std::string program = KRP_PROGRAM;  // the server
    std::string settings;               // asetukset.ini lines for the program ("\n" for line breaks)
    double sampleSeconds = 60;          // resident memory sampled this often
};

const char* const kUsage =
    "usage: krp-soak [options]\n"
    "  --duration SECONDS    length of the run (600)\n"
    "  --clients N           terminals, each with its own connection and sessions (16)\n"
    "  --rate CALLS          requests per second of all clients together (174)\n"
    "  --stall-ms MS         a call slower than this counts as stalled (1000)\n"
    "  --dump-threads DIR    what each server thread waits for while a request is stalled\n"
    "  --program PATH        the server program (the one built beside this)\n"
    "  --settings TEXT       asetukset.ini lines appended, \\n between lines (\"[Loki]\\nRivimaara=2000\")\n"
    "  --sample SECONDS      how often the server's resident memory is sampled (60)\n";

std::string unescapeNewlines(std::string text)
{
    for (std::size_t at = 0; (at = text.find("\\n", at)) != std::string::npos;)
        text.replace(at, 2, "\n");
    return text.empty() || text.back() == '\n' ? text : text + "\n";
}

SoakOptions parseOptions(int argc, char** argv)
{
    SoakOptions o;
    forEachOption(argc, argv, [&](const std::string& a, const OptionValue& value) {
        if (a == "--duration")
            o.durationSeconds = secondsValue(a, value()).count() / 1000.0;
        else if (a == "--clients")
            o.clients = wholeNumber(a, value());
        else if (a == "--rate")
            o.callsPerSecond = wholeNumber(a, value());
        else if (a == "--stall-ms")
            o.stallMs = wholeNumber(a, value());
        else if (a == "--dump-threads")
            o.dumpThreads = value();
        else if (a == "--program")
            o.program = value();
        else if (a == "--settings")
            o.settings = unescapeNewlines(value());
        else if (a == "--sample")
            o.sampleSeconds = secondsValue(a, value()).count() / 1000.0;
        else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else
            throw std::invalid_argument("unknown option " + a);
    });
    if (o.clients == 0 || o.callsPerSecond <= 0 || o.durationSeconds <= 0 || o.sampleSeconds <= 0)
        throw std::invalid_argument("clients, rate, duration and sample must be above 0");
    return o;
}

// One request of the soak.
struct Sample {
    double startS = 0;  // since the run began
    float ms = 0;
    std::uint8_t what = 0;  // index into kWhat
    bool ok = true;
};

const char* const kWhat[] = {
    "open session",           "TarkistaKayttooikeus",    "Ping",
    "MonivaiheinenTuotehaku", "dspTuotelista",           "TuotteenOstotilausrivit",
    "dspTuotteenOTrivit",     "LisaaVarastoontulorivit", "LisaaKerailyrivit",
    "SovellusSuljetaan",      "close session",
};
enum What : std::uint8_t {
    Open,
    Tarkista,
    Ping,
    Haku,
    Tuotelista,
    Ostotilaus,
    OTrivit,
    Tulo,
    Kerailu,
    Suljetaan,
    Close,
    WhatCount
};

const char* const kCodes[] = {"JP-1001", "6417000100038", "OS-3003", "RE-205",
                              "5W30-5L", "EI-OLE-99",     "AKKU-74", "6417000100106"};
const int kToimittajat[] = {101, 102, 102, 102, 103, 101, 104, 101};

struct Shared {
    Clock::time_point begin;
    Clock::time_point end;
    std::mutex mutex;
    std::vector<Sample> samples;
    std::string firstError;
};

class Terminal {
public:
    Terminal(unsigned number, std::uint16_t port, const SoakOptions& options, Shared& shared)
        : number_(number), shared_(shared), random_(number * 7919u + 17u),
          interval_(std::chrono::duration_cast<Clock::duration>(
              std::chrono::duration<double>(options.clients / options.callsPerSecond)))
    {
        client::KrpClientOptions o;
        o.transport.host = "127.0.0.1";
        o.transport.port = port;
        o.transport.timeout = std::chrono::seconds(60);
        o.callRepeats = 0;  // a lost answer shows as an error, not as a long call
        client_ = std::make_unique<client::KrpClient>(o);
        // The terminals start spread over one interval.
        next_ = shared_.begin + interval_ * number / options.clients;
    }

    // When the request in flight began (since the run began), or -1 when none is.
    double inFlightSince() const { return inFlightSince_.load(); }
    What inFlight() const { return inFlight_.load(); }

    void run()
    {
        const std::string id = "soak-" + std::to_string(number_);
        while (Clock::now() < shared_.end) {
            if (!step(Open, [&] {
                    client_->openSession({"Kairanet", "Kx7-Ruoste-Tunturi-2026", "VARASTO", "Hylly42"});
                }))
                continue;
            step(Tarkista, [&] { client_->call("TarkistaKayttooikeus", R"(["", "VARASTO", "Hylly42"])"); });
            step(Ping, [&] { client_->call("Ping", R"(["Kairanet", ")" + id + R"("])"); });
            const int calls = std::uniform_int_distribution<int>(10, 60)(random_);
            for (int i = 0; i < calls && Clock::now() < shared_.end && client_->hasSession(); ++i)
                oneOf(id);
            if (client_->hasSession()) {
                step(Suljetaan, [&] { client_->call("SovellusSuljetaan", R"(["Kairanet", ")" + id + R"("])"); });
                step(Close, [&] { client_->closeSession(); });
            }
        }
        std::lock_guard lock(shared_.mutex);
        shared_.samples.insert(shared_.samples.end(), samples_.begin(), samples_.end());
        if (shared_.firstError.empty())
            shared_.firstError = firstError_;
    }

private:
    void oneOf(const std::string& id)
    {
        const int dice = std::uniform_int_distribution<int>(0, 99)(random_);
        const std::size_t c = std::uniform_int_distribution<std::size_t>(0, std::size(kCodes) - 1)(random_);
        const std::string code = kCodes[c];
        const std::string supplier = std::to_string(kToimittajat[c]);
        if (dice < 40) {  // a scanned code, then its rows
            step(Haku, [&] { client_->call("MonivaiheinenTuotehaku", "[" + supplier + R"(, ")" + code + R"("])"); });
            step(Tuotelista, [&] { client_->provider("dspTuotelista"); });
        } else if (dice < 55) {
            step(Ostotilaus,
                 [&] { client_->call("TuotteenOstotilausrivit", R"([")" + code + R"(", )" + supplier + "]"); });
            step(OTrivit, [&] { client_->provider("dspTuotteenOTrivit"); });
        } else if (dice < 70) {
            step(Tulo, [&] { expectEmpty(client_->call("LisaaVarastoontulorivit", tulorivi(id))); });
        } else if (dice < 80) {
            step(Kerailu, [&] { expectEmpty(client_->call("LisaaKerailyrivit", kerailyrivi(id))); });
        } else {
            step(Ping, [&] { client_->call("Ping", R"(["Kairanet", ")" + id + R"("])"); });
        }
    }

    std::string tulorivi(const std::string& id)
    {
        return R"([{"type":"System.Generics.Collections.TObjectList<UTyypit.TVarastoontulorivi>","id":1,"fields":{)"
               R"("FOwnsObjects":true,"FListHelper":[1],"FItems":[{"type":"UTyypit.TVarastoontulorivi","id":2,"fields":{)"
               R"("id":")" +
               id + "-T" + std::to_string(++written_) +
               R"(","ostotilausnro":5001,"tilausrivinro":1,"toimittajanro":101,"tuotekoodi":"JP-1001",)"
               R"("saapuvamaara":2,"kerattymaara":2,"keruupaateid":")" +
               id + R"("}}]}}])";
    }

    std::string kerailyrivi(const std::string& id)
    {
        return R"([{"type":"System.Generics.Collections.TObjectList<UTyypit.TKerailyrivi>","id":1,"fields":{)"
               R"("FOwnsObjects":true,"FListHelper":[1],"FItems":[{"type":"UTyypit.TKerailyrivi","id":2,"fields":{)"
               R"("id":")" +
               id + "-K" + std::to_string(++written_) +
               R"(","toimittajanro":103,"tuotekoodi":"5W30-5L","maara":2,"keruupaateid":")" + id +
               R"(","asiakasnro":1002}}]}}])";
    }

    static void expectEmpty(const client::MethodAnswer& answer)
    {
        if (!answer.result().IsString() || answer.result().GetStringLength() != 0)
            throw std::runtime_error("the write failed: " + answer.text);
    }

    // Waits for this terminal's next slot, then runs one request and records it.
    template <class F>
    bool step(What what, F&& request)
    {
        std::this_thread::sleep_until(next_);
        next_ += interval_;
        if (next_ < Clock::now() - interval_)
            next_ = Clock::now();  // behind after a stall: no burst to catch up
        const auto start = Clock::now();
        inFlight_ = what;
        inFlightSince_ = std::chrono::duration<double>(start - shared_.begin).count();
        bool ok = true;
        try {
            request();
        } catch (const std::exception& e) {
            ok = false;
            if (firstError_.empty())
                firstError_ = std::string(kWhat[what]) + ": " + e.what();
        }
        const auto stop = Clock::now();
        inFlightSince_ = -1;
        samples_.push_back({std::chrono::duration<double>(start - shared_.begin).count(),
                            static_cast<float>(std::chrono::duration<double, std::milli>(stop - start).count()), what,
                            ok});
        return ok;
    }

    unsigned number_;
    Shared& shared_;
    std::mt19937 random_;
    Clock::duration interval_;
    Clock::time_point next_;
    std::unique_ptr<client::KrpClient> client_;
    std::vector<Sample> samples_;
    std::string firstError_;
    unsigned written_ = 0;
    std::atomic<double> inFlightSince_{-1};
    std::atomic<What> inFlight_{Open};
};

std::string firstLine(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// Every thread of `pid`: its name, state (R running, S sleeping, D in the disk), the kernel
// function it sleeps in and its system call (number and arguments). Read from /proc: the server
// is not stopped (a debugger attaching would stall it for seconds).
std::string threadStates(pid_t pid)
{
    std::string out;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
        const std::string stat = firstLine(task.path() / "stat");
        const auto close = stat.rfind(')');
        const char state = close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : '?';
        out += task.path().filename().string() + " " + firstLine(task.path() / "comm") + " " + state +
               " wchan=" + firstLine(task.path() / "wchan") + " syscall=" + firstLine(task.path() / "syscall") + "\n";
    }
    return out;
}

// While some request has been in flight for half the stall limit, writes what every server
// thread is doing (every 200 ms while it lasts) and which requests were waiting.
void watchForStalls(const SoakOptions& options, pid_t server, const Shared& shared,
                    const std::vector<std::unique_ptr<Terminal>>& terminals)
{
    double lastDump = -1e9;
    while (Clock::now() < shared.end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const double now = std::chrono::duration<double>(Clock::now() - shared.begin).count();
        std::string waiting;
        for (const auto& t : terminals) {
            const double since = t->inFlightSince();
            if (since >= 0 && (now - since) * 1000 >= options.stallMs / 2)
                waiting += std::string(kWhat[t->inFlight()]) + " " +
                           std::to_string(static_cast<int>((now - since) * 1000)) + " ms\n";
        }
        if (waiting.empty() || now - lastDump < 0.2)
            continue;
        lastDump = now;
        char name[64];
        std::snprintf(name, sizeof name, "/stall-%07.2f.txt", now);
        std::ofstream out(options.dumpThreads + name);
        out << "waiting:\n"
            << waiting << "\nserver threads:\n"
            << threadStates(server) << "\nload: " << firstLine("/proc/loadavg") << "\n";
        for (const char* kind : {"cpu", "io", "memory"}) {
            std::ifstream pressure(std::string("/proc/pressure/") + kind);
            out << kind << " pressure:\n" << pressure.rdbuf();
        }
    }
}

double percentile(std::vector<float> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p / 100.0 * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

void report(const SoakOptions& options, std::vector<Sample> samples, double seconds, const std::string& firstError)
{
    std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.startS < b.startS; });
    std::size_t errors = 0;
    for (const auto& s : samples)
        errors += s.ok ? 0 : 1;
    std::printf("# Soak: %u clients, %.0f s, %zu requests (%.1f/s), %zu failed\n\n", options.clients, seconds,
                samples.size(), static_cast<double>(samples.size()) / seconds, errors);
    if (!firstError.empty())
        std::printf("First failure: %s\n\n", firstError.c_str());

    std::printf("| Request | count | p50 ms | p99 ms | max ms | max at s |\n|---|---:|---:|---:|---:|---:|\n");
    for (int w = 0; w < WhatCount; ++w) {
        std::vector<float> ms;
        const Sample* slowest = nullptr;
        for (const auto& s : samples) {
            if (s.what != w)
                continue;
            ms.push_back(s.ms);
            if (!slowest || s.ms > slowest->ms)
                slowest = &s;
        }
        if (ms.empty())
            continue;
        std::printf("| %s | %zu | %.1f | %.1f | %.1f | %.1f |\n", kWhat[w], ms.size(), percentile(ms, 50),
                    percentile(ms, 99), slowest->ms, slowest->startS);
    }

    std::vector<const Sample*> longest;
    for (const auto& s : samples)
        longest.push_back(&s);
    std::partial_sort(longest.begin(), longest.begin() + std::min<std::size_t>(10, longest.size()), longest.end(),
                      [](const Sample* a, const Sample* b) { return a->ms > b->ms; });
    longest.resize(std::min<std::size_t>(10, longest.size()));
    std::printf("\n## The longest requests\n\n| at s | request | ms |\n|---:|---|---:|\n");
    for (const Sample* s : longest)
        std::printf("| %.2f | %s | %.1f |\n", s->startS, kWhat[s->what], s->ms);

    // Stalls: requests slower than the limit, joined where they overlap in time.
    struct Stall {
        double from, to;
        std::size_t calls = 0;
        std::set<std::string> hit;
        float longest = 0;
    };
    std::vector<Stall> stalls;
    for (const auto& s : samples) {
        if (s.ms < options.stallMs)
            continue;
        const double to = s.startS + s.ms / 1000.0;
        if (stalls.empty() || s.startS > stalls.back().to)
            stalls.push_back(Stall{s.startS, to, 0, {}, 0});
        Stall& stall = stalls.back();
        stall.to = std::max(stall.to, to);
        ++stall.calls;
        stall.hit.insert(kWhat[s.what]);
        stall.longest = std::max(stall.longest, s.ms);
    }
    std::printf("\n## Stalls (requests over %.0f ms)\n\n", options.stallMs);
    if (stalls.empty()) {
        std::printf("None.\n");
    } else {
        std::printf("| from s | to s | requests | longest ms | requests hit |\n|---:|---:|---:|---:|---|\n");
        for (const auto& s : stalls) {
            std::string hit;
            for (const auto& h : s.hit)
                hit += (hit.empty() ? "" : ", ") + h;
            std::printf("| %.2f | %.2f | %zu | %.0f | %s |\n", s.from, s.to, s.calls, s.longest, hit.c_str());
        }
    }
    std::fflush(stdout);
}

int runSoak(const SoakOptions& options)
{
    TempDirectory dir("krp-soak-");
    writeSelfSignedCertificate(dir.path());
    const std::string create = std::string(KRP_SOURCE_DIR) + "/scripts/create-demo-db '" +
                               (dir.path() / "erp.sqlite").string() + "' >/dev/null";
    if (std::system(create.c_str()) != 0)
        throw std::runtime_error("scripts/create-demo-db failed");
    ProgramUnderTest::Settings settings;
    settings.program = options.program;
    settings.directory = dir.path();
    settings.database = "sqlite:erp.sqlite";
    settings.extraSettings = options.settings;
    const ProgramUnderTest server(settings);
    std::fprintf(stderr, "krp-soak: server pid %d on port %u; %u clients at %.0f requests/s for %.0f s\n",
                 static_cast<int>(server.pid()), server.port(), options.clients, options.callsPerSecond,
                 options.durationSeconds);

    Shared shared;
    shared.begin = Clock::now() + std::chrono::milliseconds(200);
    shared.end = shared.begin +
                 std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.durationSeconds));
    std::vector<std::unique_ptr<Terminal>> terminals;
    for (unsigned i = 0; i < options.clients; ++i)
        terminals.push_back(std::make_unique<Terminal>(i, server.port(), options, shared));
    std::vector<std::thread> threads;
    for (auto& t : terminals)
        threads.emplace_back([&t] { t->run(); });
    std::thread watchdog;
    if (!options.dumpThreads.empty())
        watchdog = std::thread([&] { watchForStalls(options, server.pid(), shared, terminals); });
    // The server's resident memory over the run: at the start, every sample interval, at the end.
    struct MemorySample {
        double seconds;
        MemoryUse use;
    };
    std::vector<MemorySample> memory;
    const auto sampleEvery =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.sampleSeconds));
    std::thread progress([&] {
        auto nextSample = shared.begin;
        for (;;) {
            const auto now = Clock::now();
            if (now >= nextSample || now >= shared.end) {
                const double at = std::max(0.0, std::chrono::duration<double>(now - shared.begin).count());
                memory.push_back({at, memoryOf(server.pid())});
                std::fprintf(stderr, "krp-soak: %.0f s, server RSS %.1f MiB\n", at, memory.back().use.rssKiB / 1024.0);
                nextSample += sampleEvery;
            }
            if (now >= shared.end)
                break;
            std::this_thread::sleep_until(std::min({shared.end, nextSample, Clock::now() + std::chrono::seconds(30)}));
        }
    });
    for (auto& t : threads)
        t.join();
    progress.join();
    if (watchdog.joinable())
        watchdog.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - shared.begin).count();
    report(options, std::move(shared.samples), seconds, shared.firstError);
    std::printf("\n### The server's resident memory\n\n| s | RSS MiB | peak RSS MiB |\n|---:|---:|---:|\n");
    for (const MemorySample& m : memory)
        std::printf("| %.0f | %.1f | %.1f |\n", m.seconds, m.use.rssKiB / 1024.0, m.use.peakKiB / 1024.0);
    LoadGenerator reader(1);
    const ServerMetrics end = readServerMetrics(reader, server.port());
    std::printf("\nThe server at the end (its /metrics): %lld open sessions, %lld event-log lines written.\n",
                end.openSessions, end.logLines);
    std::fflush(stdout);
    return 0;
}

}  // namespace
}  // namespace krp::bench

int main(int argc, char** argv)
{
    krp::bench::SoakOptions options;
    try {
        options = krp::bench::parseOptions(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "krp-soak: %s\n%s", e.what(), krp::bench::kUsage);
        return 2;
    }
    try {
        return krp::bench::runSoak(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "krp-soak: %s\n", e.what());
        return 3;
    }
}
