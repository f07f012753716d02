#pragma once
#include <stdexcept>
#include <string>

namespace krp::db {

// Any failure of the database layer: connecting, preparing, binding, executing, reading.
// what() is the database's own message in UTF-8; it reaches clients after "Syy: ".
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message, std::string sqlState = {})
        : std::runtime_error(message), sqlState_(std::move(sqlState)) {}
    // ODBC SQLSTATE when known ("23000" duplicate key, "08S01" link lost), else empty.
    const std::string& sqlState() const { return sqlState_; }
    // True when the statement failed because a unique or primary key refused the row.
    bool isDuplicateKey() const;
    // True when the link to the database was lost (the connection is replaced).
    bool isLinkLost() const;

private:
    std::string sqlState_;
};

}  // namespace krp::db
