#include "server/session/KeyedCallJournal.h"

#include "server/session/BodyDigest.h"

#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <ctime>
#include <filesystem>
#include <system_error>

namespace krp::session {

namespace {

constexpr auto kPruneEvery = std::chrono::minutes(10);

long long nowSeconds()
{
    return static_cast<long long>(std::time(nullptr));
}

// "20261210-181502": a moved-aside file's suffix.
std::string stamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

}  // namespace

KeyedCallJournal::KeyedCallJournal(KeyedCallJournalOptions options) : options_(std::move(options))
{
    open();
}

KeyedCallJournal::~KeyedCallJournal()
{
    std::lock_guard lock(writerMutex_);
    writer_.reset();
    if (!sql_)
        return;
    try {
        // A clean close folds the write-ahead log into the file.
        *sql_ << "PRAGMA wal_checkpoint(TRUNCATE)";
    } catch (const std::exception&) {
    }
    sql_.reset();
}

void KeyedCallJournal::openFile(const std::string& file)
{
    writer_.reset();
    sql_.reset();
    sql_ = std::make_unique<soci::session>(soci::sqlite3, "db=\"" + file + "\" timeout=5");
    soci::session& sql = *sql_;
    std::string check;
    sql << "PRAGMA quick_check", soci::into(check);
    if (check != "ok")
        throw std::runtime_error("PRAGMA quick_check: " + check);
    std::string mode;
    sql << "PRAGMA journal_mode=WAL", soci::into(mode);
    sql << "CREATE TABLE IF NOT EXISTS keyed_calls ("
           " user_name TEXT NOT NULL,"
           " call_key TEXT NOT NULL,"
           " method TEXT NOT NULL,"
           " body_digest TEXT NOT NULL,"
           " started_at INTEGER NOT NULL,"
           " answer_status INTEGER,"  // NULL while the call runs, and for ever when it never ended
           " answer_body TEXT,"
           " PRIMARY KEY (user_name, call_key))";
    sql << "CREATE INDEX IF NOT EXISTS keyed_calls_started ON keyed_calls (started_at)";
    if (file == ":memory:")
        return;  // one database per connection: this one writes too, under the writer's mutex
    // Every write goes through this connection, one at a time under the writer's mutex, so that
    // no statement waits on SQLite's lock; lookups read through the other meanwhile.
    writer_ = std::make_unique<soci::session>(soci::sqlite3, "db=\"" + file + "\" timeout=5");
}

soci::session& KeyedCallJournal::writer()
{
    return writer_ ? *writer_ : *sql_;
}

std::unique_lock<std::mutex> KeyedCallJournal::readerLock()
{
    // A journal in memory has one connection: reading waits for the writer.
    return writer_ ? std::unique_lock<std::mutex>() : std::unique_lock<std::mutex>(writerMutex_);
}

void KeyedCallJournal::moveAside(const std::string& why)
{
    namespace fs = std::filesystem;
    writer_.reset();
    sql_.reset();
    const std::string aside = options_.file + ".vioittunut-" + stamp();
    std::error_code error;
    fs::rename(options_.file, aside, error);
    problem_ = "Toistojen kirjanpito " + options_.file + " ei kelvannut (" + why + ")";
    if (error) {
        problem_ += "; sitä ei voitu siirtää syrjään: " + error.message();
    } else {
        problem_ += "; se siirrettiin nimelle " + aside;
        fs::rename(options_.file + "-wal", aside + "-wal", error);
    }
    fs::remove(options_.file + "-wal", error);
    fs::remove(options_.file + "-shm", error);
}

void KeyedCallJournal::open()
{
    if (options_.file.empty()) {
        openFile(":memory:");
        state_ = State::InMemory;
        return;
    }
    const bool existed = std::filesystem::exists(options_.file);
    try {
        openFile(options_.file);
        state_ = existed ? State::Opened : State::Created;
    } catch (const std::exception& e) {
        moveAside(e.what());
        try {
            openFile(options_.file);
            state_ = State::Replaced;
        } catch (const std::exception& again) {
            problem_ +=
                "; uutta ei voitu luoda (" + std::string(again.what()) + "), joten kirjanpito pidetään vain muistissa";
            openFile(":memory:");
            state_ = State::InMemory;
        }
    }
    try {
        prune();
    } catch (const std::exception&) {
    }
}

KeyedCallJournal::Claim KeyedCallJournal::claim(std::string_view user, std::string_view key, std::string_view method,
                                                std::string_view body)
{
    const std::string digest = bodyDigest(body);
    const std::pair<std::string, std::string> id{std::string(user), std::string(key)};
    std::unique_lock lock(mutex_);
    // The same key running in another session: wait for its answer.
    if (!finished_.wait_for(lock, options_.waitForRunning, [&] { return running_.count(id) == 0; }))
        return {Outcome::InProgress, {}};
    try {
        const auto reading = readerLock();
        soci::session& sql = *sql_;
        std::string keptMethod, keptDigest, answerBody;
        int answerStatus = 0;
        soci::indicator statusKnown = soci::i_null, bodyKnown = soci::i_null;
        sql << "SELECT method, body_digest, answer_status, answer_body FROM keyed_calls"
               " WHERE user_name = :u AND call_key = :k",
            soci::into(keptMethod), soci::into(keptDigest), soci::into(answerStatus, statusKnown),
            soci::into(answerBody, bodyKnown), soci::use(id.first), soci::use(id.second);
        if (sql.got_data()) {
            if (keptMethod != method || keptDigest != digest)
                return {Outcome::Other, {}};
            if (statusKnown != soci::i_ok)
                return {Outcome::Unknown, {}};
            return {Outcome::Answered, {answerStatus, bodyKnown == soci::i_ok ? answerBody : std::string()}};
        }
    } catch (const std::exception& e) {
        throw JournalUnavailable(e.what());
    }
    // Claimed now (a repeat waits for it), flushed to disk before the call may run: after a crash
    // the key is found. Claims that arrive while a batch is flushed go together in the next one.
    running_.insert(id);
    pending_.push_back({id.first, id.second, std::string(method), digest, nowSeconds()});
    const std::uint64_t batch = nextBatch_;
    while (flushedBatch_ < batch) {
        if (flushing_) {
            flushed_.wait(lock);
            continue;
        }
        flushing_ = true;
        std::vector<PendingClaim> claims;
        claims.swap(pending_);
        const std::uint64_t number = nextBatch_++;
        std::string error;
        lock.unlock();
        try {
            std::lock_guard writing(writerMutex_);
            pruneIfDue();
            writeClaims(writer(), claims);
        } catch (const std::exception& e) {
            error = e.what();
        }
        lock.lock();
        flushing_ = false;
        flushedBatch_ = number;
        if (!error.empty())
            failedBatches_[number] = error;
        flushed_.notify_all();
    }
    const auto failed = failedBatches_.find(batch);
    if (failed != failedBatches_.end()) {
        const std::string error = failed->second;
        running_.erase(id);
        finished_.notify_all();
        throw JournalUnavailable(error);
    }
    return {Outcome::Run, {}};
}

void KeyedCallJournal::writeClaims(soci::session& sql, const std::vector<PendingClaim>& claims)
{
    sql << "PRAGMA synchronous=FULL";
    soci::transaction transaction(sql);
    for (const PendingClaim& c : claims) {
        sql << "INSERT INTO keyed_calls (user_name, call_key, method, body_digest, started_at)"
               " VALUES (:u, :k, :m, :d, :t)",
            soci::use(c.user), soci::use(c.key), soci::use(c.method), soci::use(c.digest), soci::use(c.started);
    }
    transaction.commit();  // one flush for the whole batch
}

void KeyedCallJournal::finish(std::string_view user, std::string_view key, const Answer& answer) noexcept
{
    const std::pair<std::string, std::string> id{std::string(user), std::string(key)};
    try {
        std::lock_guard writing(writerMutex_);
        soci::session& sql = writer();
        sql << "PRAGMA synchronous=NORMAL";  // flushed with the next batch of claims
        sql << "UPDATE keyed_calls SET answer_status = :s, answer_body = :b"
               " WHERE user_name = :u AND call_key = :k",
            soci::use(answer.status), soci::use(answer.body), soci::use(id.first), soci::use(id.second);
    } catch (const std::exception&) {
        // Left unanswered: a repeat is told the outcome is unknown.
    }
    {
        std::lock_guard lock(mutex_);
        running_.erase(id);
    }
    finished_.notify_all();
}

void KeyedCallJournal::pruneIfDue()
{
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPrune_ < kPruneEvery)
        return;
    lastPrune_ = now;
    const long long before = nowSeconds() - std::chrono::duration_cast<std::chrono::seconds>(options_.keepFor).count();
    writer() << "PRAGMA synchronous=NORMAL";
    writer() << "DELETE FROM keyed_calls WHERE started_at < :t", soci::use(before);
}

std::size_t KeyedCallJournal::prune()
{
    std::lock_guard writing(writerMutex_);
    const long long before = nowSeconds() - std::chrono::duration_cast<std::chrono::seconds>(options_.keepFor).count();
    lastPrune_ = std::chrono::steady_clock::now();
    int gone = 0;
    soci::session& sql = writer();
    sql << "SELECT COUNT(*) FROM keyed_calls WHERE started_at < :t", soci::into(gone), soci::use(before);
    sql << "PRAGMA synchronous=NORMAL";
    sql << "DELETE FROM keyed_calls WHERE started_at < :t", soci::use(before);
    return static_cast<std::size_t>(gone);
}

std::size_t KeyedCallJournal::size()
{
    std::lock_guard lock(mutex_);
    const auto reading = readerLock();
    int n = 0;
    *sql_ << "SELECT COUNT(*) FROM keyed_calls", soci::into(n);
    return static_cast<std::size_t>(n);
}

}  // namespace krp::session
