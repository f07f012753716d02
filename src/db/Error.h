#pragma once
#include <stdexcept>
#include <string>

namespace krp::db {

// Any failure of the database layer: connecting, preparing, binding, executing, reading.
// what() is the database's own message in UTF-8 (for a limit or an unknown outcome preceded by
// the layer's own Finnish explanation); it reaches clients after "Syy: ".
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message, std::string sqlState = {}, long nativeCode = 0)
        : std::runtime_error(message), sqlState_(std::move(sqlState)), nativeCode_(nativeCode)
    {
    }
    // ODBC SQLSTATE when known ("23000" integrity constraint, "08S01" link lost), else empty.
    // SQLite failures carry the ODBC state of the same meaning.
    const std::string& sqlState() const { return sqlState_; }
    // The database's own error number (MariaDB 1062, SQLite extended result code, ...), or 0.
    long nativeCode() const { return nativeCode_; }
    // True when the statement failed because a unique or primary key refused the row.
    bool isDuplicateKey() const;
    // True when the link to the database was lost (the connection is replaced).
    bool isLinkLost() const;
    // True when a limit ran out: the statement's time ("HYT00"), or the wait for a pooled
    // connection.
    bool isTimeout() const { return sqlState_ == "HYT00"; }
    // True when no connection to the database could be made.
    bool isConnectFailure() const { return connectFailure_; }
    // True when the database does not answer (a lost link, a limit, no connection): the
    // caller may try again later; nothing was refused on its merits.
    bool isUnavailable() const { return isLinkLost() || isTimeout() || connectFailure_; }

    // True when the statement may have reached the server before the failure, so that it may
    // have taken effect there.
    bool mayHaveRun() const { return mayHaveRun_; }
    // True when a write or a COMMIT may or may not have taken effect: the text says
    // "tulos epävarma".
    bool outcomeUnknown() const { return outcomeUnknown_; }

    // The same failure, marked.
    Error sentToServer() const;
    Error connectFailed() const;
    // The same failure with `explanation` in front of the text.
    Error explained(const std::string& explanation) const;
    // The same failure with the unknown-outcome explanation in front of the text.
    Error withUnknownOutcome() const;

private:
    std::string sqlState_;
    long nativeCode_ = 0;
    bool mayHaveRun_ = false;
    bool outcomeUnknown_ = false;
    bool connectFailure_ = false;
};

// The explanation in front of a failure whose outcome is unknown.
inline constexpr const char* kUnknownOutcomeText =
    "Yhteys tietokantaan katkesi, kun lause oli jo lähetetty; tulos epävarma: "
    "muutos on voinut jäädä tietokantaan. Tarkista ennen uutta yritystä. Syy: ";

}  // namespace krp::db
