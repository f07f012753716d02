#pragma once
// SOCI's sqlite3 backend wraps <sqlite3.h> in a namespace of its own; this seam keeps that
// header away from the code that uses the SQLite C API directly.
#include <memory>
#include <string>

struct sqlite3;
namespace soci {
class session;
}

namespace krp::db {

// Opens a SOCI session on the sqlite3 backend ("db=... timeout=..."); throws soci::soci_error.
std::unique_ptr<soci::session> openSqliteSession(const std::string& connectString);
// The session's native handle, or null when the session is closed.
sqlite3* nativeSqliteHandle(soci::session& session);

}  // namespace krp::db
