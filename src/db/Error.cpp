#include "db/Error.h"

#include <algorithm>
#include <array>

namespace krp::db {

bool Error::isDuplicateKey() const
{
    if (sqlState_ == "23505")
        return true;  // the standard's own state for a unique violation
    if (sqlState_ != "23000")
        return false;
    // 23000 covers every integrity rule (also NOT NULL); the number tells a key apart.
    static constexpr std::array<long, 6> duplicateKeyCodes = {
        1062,   // MariaDB: duplicate entry for key
        1586,   // MariaDB: duplicate entry for unique key (with key name)
        1555,   // SQLite: PRIMARY KEY constraint failed
        2067,   // SQLite: UNIQUE constraint failed
        10005,  // solidDB: unique constraint violation
        10033,  // solidDB: primary key unique constraint violation
    };
    return std::find(duplicateKeyCodes.begin(), duplicateKeyCodes.end(), nativeCode_) != duplicateKeyCodes.end();
}

bool Error::isLinkLost() const
{
    // Class 08 is "connection exception"; HYT01 is a connection timeout.
    if (sqlState_.rfind("08", 0) == 0 || sqlState_ == "HYT01")
        return true;
    // MariaDB reports some losses under other states: server gone away (2006), connection
    // lost during a query (2013), connection killed (1927).
    return nativeCode_ == 2006 || nativeCode_ == 2013 || nativeCode_ == 1927;
}

}  // namespace krp::db

namespace krp::db {

Error Error::sentToServer() const
{
    Error e = *this;
    e.mayHaveRun_ = true;
    return e;
}

Error Error::connectFailed() const
{
    Error e = *this;
    e.connectFailure_ = true;
    return e;
}

Error Error::explained(const std::string& explanation) const
{
    Error e(explanation + what(), sqlState_, nativeCode_);
    e.mayHaveRun_ = mayHaveRun_;
    e.outcomeUnknown_ = outcomeUnknown_;
    e.connectFailure_ = connectFailure_;
    return e;
}

Error Error::withUnknownOutcome() const
{
    if (outcomeUnknown_)
        return *this;
    Error e = explained(kUnknownOutcomeText);
    e.outcomeUnknown_ = true;
    return e;
}

}  // namespace krp::db
