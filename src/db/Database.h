#pragma once
// The one database of the process (the window's FDYhteysPaaruutu). Statements of concurrent
// threads never share a live connection: each statement leases a pooled connection made with
// the same settings, so sessions cannot interfere. Auto-commit everywhere unless a Transaction
// is open on the calling thread.
#include "ConnectionSettings.h"
#include "Error.h"
#include <functional>
#include <memory>

namespace krp::db {

class Connection;  // one live link to the database (internal, db/Connection.h)

class Database {
public:
    Database();
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Connects the first connection (throws Error with the driver's message on failure).
    // Opening an open database closes it first.
    void open(const ConnectionSettings& settings);
    // Closes every pooled connection; statements after this fail with "not connected".
    // A statement running at that moment finishes; its connection is closed afterwards.
    void close();
    bool isOpen() const;
    ConnectionSettings settings() const;

    // Runs `work` with a connection of the pool leased to the calling thread. Nested calls on
    // the same thread (and every Query inside `work`) reuse the same connection. When `work`
    // fails because the link was lost, the connection is replaced by a fresh one and `work`
    // runs once more; this happens in the outermost call only, and never inside a Transaction
    // (its earlier statements died with the link, so the failure is reported instead).
    void withConnection(const std::function<void(Connection&)>& work);

    // At most this many connections are open at once; a statement beyond waits for a free
    // one. Default 32.
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
