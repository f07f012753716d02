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
    // connection (DatabaseConnectError on failure; the service stays stopped), reads the port
    // (PortError; the connection stays open) and starts the service (its own error).
    bool start(const QString& tietokanta, int tietokannanTyyppi, const QString& portti);

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
    NullRemoteService nullService_;
    RemoteService* service_ = &nullService_;
};

}  // namespace krp
