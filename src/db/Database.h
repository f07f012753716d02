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

class Connection;  // one live SOCI session (internal)

class Database {
public:
    Database();
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Connects the first connection (throws Error with the driver's message on failure).
    void open(const ConnectionSettings& settings);
    // Closes every pooled connection; statements after this fail with "not connected".
    void close();
    bool isOpen() const;
    const ConnectionSettings& settings() const;

    // Runs `work` with a connection of the pool leased to the calling thread. Nested calls on
    // the same thread (and every Query inside `work`) reuse the same connection. A lost link is
    // replaced by a fresh connection and the statement tried once more.
    void withConnection(const std::function<void(Connection&)>& work);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    friend class Transaction;
    friend class Query;
};

// A transaction on the calling thread: every Query executed on this thread while it lives
// runs on its connection. Rolled back on destruction unless committed.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    void commit();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace krp::db
