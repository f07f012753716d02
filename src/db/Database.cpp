#include "db/Database.h"

#include "db/Connection.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace krp::db {

const char* const kNotOpenMessage = "Tietokantayhteys ei ole auki (not connected).";

struct Database::Impl {
    mutable std::mutex mutex;
    std::condition_variable returned;
    ConnectionSettings settings;
    bool open = false;
    std::uint64_t generation = 0;  // grows on every open and close
    std::vector<std::unique_ptr<Connection>> idle;
    int total = 0;  // connections of this generation, idle or leased
    int maxConnections = 32;

    std::unique_ptr<Connection> take(std::uint64_t& generationOut)
    {
        std::unique_lock lock(mutex);
        for (;;) {
            if (!open)
                throw Error(kNotOpenMessage, "08003");
            if (!idle.empty()) {
                auto c = std::move(idle.back());
                idle.pop_back();
                generationOut = generation;
                return c;
            }
            if (total < maxConnections)
                break;
            returned.wait(lock);
        }
        ++total;
        generationOut = generation;
        const ConnectionSettings s = settings;
        lock.unlock();
        try {
            return connect(s);
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
};

thread_local std::vector<LeaseRecord*> t_leases;

class Lease {
public:
    explicit Lease(Database::Impl& db)
    {
        auto it = std::find_if(t_leases.begin(), t_leases.end(),
                               [&](LeaseRecord* r) { return r->db == &db; });
        if (it != t_leases.end()) {
            record_ = *it;
        } else {
            auto record = std::make_unique<LeaseRecord>();
            record->db = &db;
            record->connection = db.take(record->generation);
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
        record->db->giveBack(std::move(record->connection), record->generation);
    }

    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    Connection& connection() { return *record_->connection; }
    LeaseRecord& record() { return *record_; }

private:
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
    std::unique_ptr<Connection> first = connect(settings);
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
    try {
        work(lease.connection());
        return;
    } catch (const Error& e) {
        if (!e.isLinkLost() || lease.record().depth > 1 || lease.record().inTransaction)
            throw;
    }
    lease.connection().reconnect();
    work(lease.connection());
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
    if (record.connection->broken())
        impl->lease.connection().reconnect();
    impl->lease.connection().begin();
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
    impl_->finished = true;
    impl_->lease.record().inTransaction = false;
    impl_->lease.connection().commit();
}

void Transaction::rollback()
{
    if (impl_->finished)
        return;
    impl_->finished = true;
    impl_->lease.record().inTransaction = false;
    impl_->lease.connection().rollback();
}

}  // namespace krp::db
