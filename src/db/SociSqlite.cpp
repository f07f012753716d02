#include "db/SociSqlite.h"

#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

namespace krp::db {

std::unique_ptr<soci::session> openSqliteSession(const std::string& connectString)
{
    return std::make_unique<soci::session>(soci::sqlite3, connectString);
}

sqlite3* nativeSqliteHandle(soci::session& session)
{
    auto* backend = static_cast<soci::sqlite3_session_backend*>(session.get_backend());
    // sqlite_api::sqlite3 and ::sqlite3 are the same C type under two names.
    return backend ? reinterpret_cast<sqlite3*>(backend->conn_) : nullptr;
}

}  // namespace krp::db
