#pragma once
// The one database of the process (the window's FDYhteysPaaruutu). Statements of concurrent
// threads never share a live connection: each statement leases a pooled connection made with
// the same settings, so sessions cannot interfere. Auto-commit everywhere unless a Transaction
// is open on the calling thread.
#include "ConnectionSettings.h"
#include "Error.h"
#include "Value.h"
#include <functional>
#include <memory>
#include <vector>

namespace krp::db {

class Connection;         // one live link to the database (internal, db/Connection.h)
struct StatementOutcome;  // rows or count of one statement (db/Connection.h)

class Database {
public:
    Database();
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Connects the first connection (throws Error with the driver's message on failure,
    // isConnectFailure()). Opening an open database closes it first. The settings' limits hold
    // for every connection of the pool.
    void open(const ConnectionSettings& settings);
    // Closes every pooled connection; statements after this fail with "not connected".
    // A statement running at that moment finishes; its connection is closed afterwards.
    void close();
    bool isOpen() const;
    ConnectionSettings settings() const;

    // Runs `work` with a connection of the pool leased to the calling thread. Nested calls on
    // the same thread (and every Query inside `work`) reuse the same connection. A connection
    // whose state is unknown afterwards (lost link, transaction left open and not rolled back)
    // is closed instead of going back to the pool.
    void withConnection(const std::function<void(Connection&)>& work);

    // Runs one statement (the Query's way in). Each statement reaches the server at most once:
    // after a lost link it is sent again on a fresh connection only when it certainly never
    // got there, or when it only reads, and never inside a Transaction or a nested lease. A
    // write or COMMIT whose fate is unknown fails with outcomeUnknown() ("tulos epävarma"). A
    // statement over its limit fails with a text that names the limit.
    StatementOutcome runStatement(const QString& sql, const std::vector<Value>& params);

    // At most this many connections are open at once; a statement beyond waits for a free
    // one, at most the settings' pool wait. Default 32.
    void setMaxConnections(int count);

    // How the pool is used now (for the metrics).
    struct PoolUse {
        int open = 0;    // connections open, idle or leased
        int leased = 0;  // in use by a statement or transaction
        int max = 0;
    };
    PoolUse poolUse() const;

    // Test aid: breaks the link of every idle pooled connection behind the pool's back, as a
    // restart of the database server would.
    void simulateLostLinkForTesting();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    friend class Transaction;
};

// A transaction on the calling thread: every Query executed on this thread while it lives
// runs on its connection. Rolled back on destruction unless committed. One at a time per
// thread and database.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    void commit();
    void rollback();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace krp::db
