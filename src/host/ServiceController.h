#pragma once
// Start and stop of the service, without any widget: the database connection first, then the
// remote-method server on the port of the port field.
#include "RemoteService.h"

#include <QString>
#include <functional>
#include <stdexcept>

namespace krp {

class DatabaseConnection;

// The database connection (or its after-connect work) failed during Start.
class DatabaseConnectError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The connection opened but its after-connect work failed (for example a database without
// the table ASETUS): the database is reachable but not fit to serve.
class AfterConnectError : public DatabaseConnectError {
public:
    using DatabaseConnectError::DatabaseConnectError;
};

// Who starts: the operator's Start, or the automatic start and its retries.
enum class StartBy { Operator, Automatic };

// The port field does not hold a usable port.
class PortError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ServiceController {
public:
    explicit ServiceController(DatabaseConnection& database);

    // The server container's service; nullptr puts back the stand-in that only keeps a state.
    void setRemoteService(RemoteService* service);
    RemoteService& remoteService() { return *service_; }

    bool isStarted() const { return service_->isStarted(); }

    // Start: nothing when already started (returns false). Otherwise opens the database
    // connection (DatabaseConnectError on failure, AfterConnectError when its after-connect
    // work fails; the service stays stopped), reads the port (PortError; the connection stays
    // open) and starts the service (its own error).
    //
    // The operator's Start leaves a connection whose after-connect work failed open, and the
    // next Start serves on it without repeating that work. The automatic start closes it
    // again, so that each retry runs the whole start on a fresh connection and serves only
    // when the after-connect work has passed.
    bool start(const QString& tietokanta, int tietokannanTyyppi, const QString& portti, StartBy by = StartBy::Operator);

    // Stop: stops the service, closes the database connection, then `onStopped` (which empties
    // the client registry and its view).
    void stop();
    std::function<void()> onStopped;

    // Whether showing the window starts the service by itself: a database field that is not
    // blank and a port field holding a decimal integer above 0.
    static bool kaynnistyykoAutomaattisesti(const QString& tietokanta, const QString& portti);
    // The port field as a port number; PortError for a text that is not a decimal integer or a
    // number outside 1 to 65535.
    static int porttinumero(const QString& portti);

private:
    DatabaseConnection& database_;
    bool afterConnectPassed_ = false;  // of the connection open now
    NullRemoteService nullService_;
    RemoteService* service_ = &nullService_;
};

}  // namespace krp
