#pragma once
// One live link to the database (internal to the database layer). A connection is used by one
// thread at a time: the pool in Database hands it out. Statements come with positional "?"
// markers and one value per marker.
#include "db/ConnectionSettings.h"
#include "db/Query.h"

#include <memory>
#include <vector>

namespace krp::db {

struct StatementOutcome {
    ResultSet rows;               // columns empty for a statement without a result
    long long rowsAffected = -1;  // for statements without a result, else -1
};

class Connection {
public:
    virtual ~Connection() = default;

    // Runs one statement within the statement limit of the settings. Throws Error; an Error
    // whose isLinkLost() is true marks the connection broken, and an Error that left the
    // statement's fate on the server open carries mayHaveRun().
    virtual StatementOutcome run(const QString& sql, const std::vector<Value>& params) = 0;

    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    // False while a transaction is open (or the link cannot tell).
    virtual bool inAutoCommit() = 0;
    // Whether the link still works, without running a statement: the server is asked unless
    // the link answered a moment ago (then only a close by the server that the link already
    // shows counts). False marks the connection broken; a driver that cannot tell answers true.
    virtual bool alive() = 0;

    // Drops the link and makes a new one with the same settings (throws Error on failure).
    virtual void reconnect() = 0;
    // Test aid: breaks the link behind the connection's back, as a server restart would.
    virtual void breakLink() = 0;

    bool broken() const { return broken_; }
    // Its state is unknown: the pool closes it instead of lending it again.
    void markBroken() { broken_ = true; }

protected:
    bool broken_ = false;
};

// Opens a connection of the kind the settings name; throws Error with the driver's message.
std::unique_ptr<Connection> connect(const ConnectionSettings& settings);
std::unique_ptr<Connection> connectSqlite(const ConnectionSettings& settings);
std::unique_ptr<Connection> connectOdbc(const ConnectionSettings& settings);

}  // namespace krp::db
