#pragma once
#include <stdexcept>
#include <string>

namespace krp::db {

// Any failure of the database layer: connecting, preparing, binding, executing, reading.
// what() is the database's own message in UTF-8; it reaches clients after "Syy: ".
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message, std::string sqlState = {}, long nativeCode = 0)
        : std::runtime_error(message), sqlState_(std::move(sqlState)), nativeCode_(nativeCode) {}
    // ODBC SQLSTATE when known ("23000" integrity constraint, "08S01" link lost), else empty.
    // SQLite failures carry the ODBC state of the same meaning.
    const std::string& sqlState() const { return sqlState_; }
    // The database's own error number (MariaDB 1062, SQLite extended result code, ...), or 0.
    long nativeCode() const { return nativeCode_; }
    // True when the statement failed because a unique or primary key refused the row.
    bool isDuplicateKey() const;
    // True when the link to the database was lost (the connection is replaced).
    bool isLinkLost() const;

private:
    std::string sqlState_;
    long nativeCode_ = 0;
};

}  // namespace krp::db
