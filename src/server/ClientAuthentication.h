#pragma once
// The two gates a client passes before it may call methods: the fixed application
// credentials (authentication event) and the access code plus an ERP user (connect event).
#include <QString>
#include <stdexcept>

namespace krp::db {
class Database;
class Query;
}  // namespace krp::db

namespace krp {

// A refusal of the connect event; the message goes back to the client unchanged.
class ConnectRefused : public std::runtime_error {
public:
    explicit ConnectRefused(const QString& message) : std::runtime_error(message.toStdString()) {}
};

// A refusal that the server's own settings cause (the stored access code is missing or does
// not meet its rules): every client is refused alike, whatever it sends, so it says nothing
// about the client's credentials.
class ServerMisconfigured : public ConnectRefused {
public:
    using ConnectRefused::ConnectRefused;
};

// The connect event could not run its checks because the database does not answer (a lost
// link, a limit, no connection): nothing was refused, the client may try again later. The
// message is the database layer's text.
class DatabaseUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Connect properties as the client sent them; an absent one reads as the empty text.
struct ConnectProperties {
    QString sovellus;              // "Application"
    QString saatu_paasykoodi;      // "Token"
    QString saatu_kayttajatunnus;  // "ApplicationUserName"
    QString saatu_salasana;        // "ApplicationPassword"
};

// The client's connection as the transport sees it.
struct ChannelInfo {
    QString clientAddress;
    QString protocol;
};

// Whether `user` and `password` are the fixed credentials, compared in constant time; logs
// nothing (the check made as soon as a request's head is in).
bool fixedCredentialsMatch(const QString& user, const QString& password);

// Compares with the fixed credentials in constant time and logs the outcome (a stamped line of
// the container's writers). Returns whether the credentials are valid.
bool DSAuthenticationManager1UserAuthenticate(const QString& user, const QString& password);

// Logs the connect line, then runs both checks on a query of its own over `database` (the
// pool): the window's query FDKysely stays the window's, and no lock is held across a
// statement, so a database that does not answer holds up only this opening. Throws
// ConnectRefused, or the database error, to refuse the client; DatabaseUnavailable when the
// database does not answer.
void DSServer1Connect(const ConnectProperties& properties, const ChannelInfo& channel, db::Database& database);

// Each runs its statement on `kysely` (the opening's own query) and throws to refuse.
void TarkistaPaasykoodi(db::Query& kysely, const QString& saatu_paasykoodi);
void TarkistaOhjelmanKirjautumistiedot(db::Query& kysely, const QString& saatu_kayttajatunnus,
                                       const QString& saatu_salasana);

}  // namespace krp
