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
    ResultSet rows;             // columns empty for a statement without a result
    long long rowsAffected = -1;  // for statements without a result, else -1
};

class Connection {
public:
    virtual ~Connection() = default;

    // Runs one statement. Throws Error; an Error whose isLinkLost() is true marks the
    // connection broken.
    virtual StatementOutcome run(const QString& sql, const std::vector<Value>& params) = 0;

    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;

    // Drops the link and makes a new one with the same settings (throws Error on failure).
    virtual void reconnect() = 0;
    // Test aid: breaks the link behind the connection's back, as a server restart would.
    virtual void breakLink() = 0;

    bool broken() const { return broken_; }

protected:
    bool broken_ = false;
};

// Opens a connection of the kind the settings name; throws Error with the driver's message.
std::unique_ptr<Connection> connect(const ConnectionSettings& settings);
std::unique_ptr<Connection> connectSqlite(const ConnectionSettings& settings);
std::unique_ptr<Connection> connectOdbc(const ConnectionSettings& settings);

}  // namespace krp::db
