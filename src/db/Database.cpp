#include "db/Database.h"

#include "db/Connection.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace krp::db {

const char* const kNotOpenMessage = "Tietokantayhteys ei ole auki (not connected).";

namespace {

using Clock = std::chrono::steady_clock;

std::string text(const QString& s)
{
    return s.toStdString();
}

// A failure that ran into a limit comes this close to it (the driver's own timer may end a
// moment early).
constexpr auto kLimitSlack = std::chrono::milliseconds(500);

bool reachedLimit(Clock::time_point start, int limitSeconds)
{
    return Clock::now() - start + kLimitSlack >= std::chrono::seconds(limitSeconds);
}

// Runs `connecting` (a connect or a reconnect); a failure is marked as a failure to connect
// and, when it took the whole connect limit, names that limit.
template <typename F>
auto withinConnectLimit(const ConnectionSettings& s, F connecting)
{
    const auto start = Clock::now();
    try {
        return connecting();
    } catch (const Error& e) {
        Error failure = e.connectFailed();
        if (reachedLimit(start, s.limits.connectSeconds))
            failure = failure.explained(
                text(QStringLiteral("Tietokantaan ei saatu yhteyttä aikarajassa (Yhteyden_aikaraja = %1 s). Syy: ")
                         .arg(s.limits.connectSeconds)));
        throw failure;
    }
}

std::unique_ptr<Connection> connectWithinLimit(const ConnectionSettings& s)
{
    return withinConnectLimit(s, [&] { return connect(s); });
}

void reconnectWithinLimit(Connection& c, const ConnectionSettings& s)
{
    withinConnectLimit(s, [&] { c.reconnect(); });
}

QString statementLimitText(int seconds)
{
    return QStringLiteral("Tietokanta ei vastannut lauseen aikarajassa (Lauseen_aikaraja = %1 s). ").arg(seconds);
}

// True for a statement that only reads: running it twice changes nothing.
bool onlyReads(const QString& sql)
{
    qsizetype i = 0;
    const qsizetype n = sql.size();
    for (;;) {
        while (i < n && (sql[i].isSpace() || sql[i] == QLatin1Char('(')))
            ++i;
        if (sql.mid(i, 2) == QLatin1String("--")) {
            const qsizetype end = sql.indexOf(QLatin1Char('\n'), i);
            i = end < 0 ? n : end + 1;
        } else if (sql.mid(i, 2) == QLatin1String("/*")) {
            const qsizetype end = sql.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? n : end + 2;
        } else {
            break;
        }
    }
    return sql.mid(i, 6).compare(QLatin1String("SELECT"), Qt::CaseInsensitive) == 0 &&
           (i + 6 >= n || !sql[i + 6].isLetterOrNumber());
}

}  // namespace

struct Database::Impl {
    mutable std::mutex mutex;
    std::condition_variable returned;
    ConnectionSettings settings;
    bool open = false;
    std::uint64_t generation = 0;  // grows on every open and close
    std::vector<std::unique_ptr<Connection>> idle;
    int total = 0;  // connections of this generation, idle or leased
    int maxConnections = 32;

    std::unique_ptr<Connection> take(std::uint64_t& generationOut, ConnectionSettings& settingsOut)
    {
        std::unique_lock lock(mutex);
        const auto deadline = Clock::now() + std::chrono::seconds(settings.limits.poolWaitSeconds);
        for (;;) {
            if (!open)
                throw Error(kNotOpenMessage, "08003");
            if (!idle.empty()) {
                auto c = std::move(idle.back());
                idle.pop_back();
                generationOut = generation;
                settingsOut = settings;
                return c;
            }
            if (total < maxConnections)
                break;
            if (returned.wait_until(lock, deadline) == std::cv_status::timeout && open && idle.empty() &&
                total >= maxConnections)
                throw Error(text(QStringLiteral("Vapaata tietokantayhteyttä ei saatu aikarajassa "
                                                "(Yhteysjonon_aikaraja = %1 s): kaikki %2 yhteyttä ovat käytössä.")
                                     .arg(settings.limits.poolWaitSeconds)
                                     .arg(maxConnections)),
                            "HYT00");
        }
        ++total;
        generationOut = generation;
        settingsOut = settings;
        const ConnectionSettings s = settings;
        lock.unlock();
        try {
            return connectWithinLimit(s);
        } catch (...) {
            lock.lock();
            if (generationOut == generation)
                --total;
            returned.notify_one();
            throw;
        }
    }

    void giveBack(std::unique_ptr<Connection> c, std::uint64_t fromGeneration)
    {
        std::unique_lock lock(mutex);
        if (fromGeneration == generation) {
            if (open && !c->broken()) {
                idle.push_back(std::move(c));
            } else {
                --total;
            }
        }
        returned.notify_one();
        lock.unlock();
        c.reset();  // a dropped connection closes outside the lock
    }
};

namespace {

// The connection a thread holds from one database, with how deeply its use is nested.
struct LeaseRecord {
    Database::Impl* db = nullptr;
    std::unique_ptr<Connection> connection;
    std::uint64_t generation = 0;
    int depth = 0;
    bool inTransaction = false;
    ConnectionSettings settings;  // as the connection was leased
};

thread_local std::vector<LeaseRecord*> t_leases;

class Lease {
public:
    explicit Lease(Database::Impl& db)
    {
        auto it = std::find_if(t_leases.begin(), t_leases.end(), [&](LeaseRecord* r) { return r->db == &db; });
        if (it != t_leases.end()) {
            record_ = *it;
        } else {
            auto record = std::make_unique<LeaseRecord>();
            record->db = &db;
            record->connection = db.take(record->generation, record->settings);
            record_ = record.release();
            t_leases.push_back(record_);
        }
        ++record_->depth;
    }

    ~Lease()
    {
        if (--record_->depth > 0)
            return;
        std::erase(t_leases, record_);
        std::unique_ptr<LeaseRecord> record(record_);
        settle(*record->connection);
        record->db->giveBack(std::move(record->connection), record->generation);
    }

    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    Connection& connection() { return *record_->connection; }
    LeaseRecord& record() { return *record_; }
    const ConnectionSettings& connectionSettings() const { return record_->settings; }

private:
    // A connection goes back to the pool only in auto-commit mode: an open transaction is
    // rolled back, and one that cannot be is closed with its connection.
    static void settle(Connection& c)
    {
        if (c.broken())
            return;
        try {
            if (c.inAutoCommit())
                return;
            c.rollback();
            if (c.inAutoCommit())
                return;
        } catch (const Error&) {
        }
        c.markBroken();
    }

    LeaseRecord* record_ = nullptr;
};

}  // namespace

Database::Database() : impl_(std::make_unique<Impl>()) {}

Database::~Database()
{
    close();
}

void Database::open(const ConnectionSettings& settings)
{
    close();
    std::unique_ptr<Connection> first = connectWithinLimit(settings);
    std::lock_guard lock(impl_->mutex);
    impl_->settings = settings;
    impl_->open = true;
    ++impl_->generation;
    impl_->total = 1;
    impl_->idle.push_back(std::move(first));
}

void Database::close()
{
    std::vector<std::unique_ptr<Connection>> closing;
    {
        std::lock_guard lock(impl_->mutex);
        if (!impl_->open && impl_->idle.empty())
            return;
        impl_->open = false;
        ++impl_->generation;
        impl_->total = 0;
        closing.swap(impl_->idle);
    }
    impl_->returned.notify_all();
}

bool Database::isOpen() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->open;
}

ConnectionSettings Database::settings() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->settings;
}

void Database::setMaxConnections(int count)
{
    std::lock_guard lock(impl_->mutex);
    impl_->maxConnections = std::max(1, count);
}

Database::PoolUse Database::poolUse() const
{
    std::lock_guard lock(impl_->mutex);
    PoolUse use;
    use.open = impl_->open ? impl_->total : 0;
    use.leased = impl_->open ? impl_->total - static_cast<int>(impl_->idle.size()) : 0;
    use.max = impl_->maxConnections;
    return use;
}

void Database::simulateLostLinkForTesting()
{
    std::lock_guard lock(impl_->mutex);
    for (auto& c : impl_->idle)
        c->breakLink();
}

void Database::withConnection(const std::function<void(Connection&)>& work)
{
    Lease lease(*impl_);
    work(lease.connection());
}

StatementOutcome Database::runStatement(const QString& sql, const std::vector<Value>& params)
{
    Lease lease(*impl_);
    LeaseRecord& record = lease.record();
    const int statementSeconds = lease.connectionSettings().limits.statementSeconds;
    // Alone on its lease and outside a transaction, the statement owns the connection's state:
    // a fresh connection loses nothing the caller relies on.
    const bool alone = record.depth == 1 && !record.inTransaction;
    const bool reads = onlyReads(sql);
    for (int attempt = 1;; ++attempt) {
        Connection& c = lease.connection();
        // A write goes out only on a link found working (asked of the server when the link has
        // been idle a while), so that a link that died while idle (a killed connection, a
        // restarted server) costs a new link, not an unknown outcome.
        auto start = Clock::now();
        if (alone && (c.broken() || (!reads && !c.alive()))) {
            if (reachedLimit(start, statementSeconds))  // the server did not even answer the check
                throw Error(text(statementLimitText(statementSeconds)) +
                                "Palvelin ei vastannut yhteyden tarkistukseen; lausetta ei lähetetty.",
                            "HYT00");
            reconnectWithinLimit(c, record.settings);
            start = Clock::now();
        }
        try {
            return c.run(sql, params);
        } catch (const Error& e) {
            if (!e.isLinkLost() && !e.isTimeout())
                throw;
            // A write that may have reached the server has an unknown fate; inside a
            // transaction the database drops it with the transaction.
            const bool unknown = e.mayHaveRun() && !record.inTransaction && !reads;
            Error failure = e;
            if (e.isTimeout() || reachedLimit(start, statementSeconds)) {
                if (unknown)
                    failure = failure.withUnknownOutcome();
                throw failure.explained(text(statementLimitText(statementSeconds)));
            }
            if (unknown)
                throw failure.withUnknownOutcome();
            if (!alone || attempt >= 2)
                throw;
            c.markBroken();
        }
    }
}

struct Transaction::Impl {
    explicit Impl(Database::Impl& db) : lease(db) {}
    Lease lease;
    bool finished = false;
};

Transaction::Transaction(Database& db)
{
    auto impl = std::make_unique<Impl>(*db.impl_);
    LeaseRecord& record = impl->lease.record();
    if (record.inTransaction)
        throw Error("A transaction is already open on this thread");
    Connection& c = impl->lease.connection();
    const bool alone = record.depth == 1;
    if (alone && !c.alive())
        reconnectWithinLimit(c, record.settings);
    try {
        c.begin();
    } catch (const Error& e) {
        // Nothing of the transaction has been sent yet: on a lost link, begin on a fresh one.
        if (!e.isLinkLost() || !alone)
            throw;
        reconnectWithinLimit(c, record.settings);
        c.begin();
    }
    record.inTransaction = true;
    impl_ = std::move(impl);
}

Transaction::~Transaction()
{
    if (!impl_->finished) {
        try {
            rollback();
        } catch (const Error&) {
            // The link is gone; the database has dropped the transaction by itself.
        }
    }
}

void Transaction::commit()
{
    if (impl_->finished)
        throw Error("The transaction has already ended");
    Connection& c = impl_->lease.connection();
    try {
        c.commit();
    } catch (const Error& e) {
        // Not committed, or not known to be: the transaction ends here either way, rolled back
        // when the link still allows it; a connection left in doubt is replaced.
        impl_->finished = true;
        impl_->lease.record().inTransaction = false;
        try {
            if (!c.broken())
                c.rollback();
        } catch (const Error&) {
            c.markBroken();
        }
        if (e.isLinkLost() || e.isTimeout()) {
            c.markBroken();
            throw e.withUnknownOutcome();
        }
        throw;
    }
    impl_->finished = true;
    impl_->lease.record().inTransaction = false;
}

void Transaction::rollback()
{
    if (impl_->finished)
        return;
    impl_->finished = true;
    impl_->lease.record().inTransaction = false;
    Connection& c = impl_->lease.connection();
    try {
        c.rollback();
    } catch (const Error&) {
        c.markBroken();
        throw;
    }
}

}  // namespace krp::db
