#pragma once
// The server container as the window's service: built from the settings read at start, with
// the client registry that feeds the connection view and the context every session's method
// module works in. It knows nothing of the window; the program joins the two.
#include "Asetukset.h"
#include "ClientRegistry.h"
#include "RemoteService.h"
#include "server/ServerContainerUnit1.h"
#include "methods/ServiceContext.h"

#include <memory>

namespace krp {

namespace db {
class Database;
}

// The server container's options from the settings: the one place where they are made.
ServerContainerOptions containerOptions(const Asetukset& asetukset);

class ServerContainerService : public RemoteService {
public:
    // `database` is the window's connection pool, which outlives the service. `showView` shows
    // the connection view (its lines and the Kairanet counter); the registry calls it on the
    // main thread. The certificate files are read from the settings' directory.
    ServerContainerService(const Asetukset& asetukset, db::Database& database, ClientRegistry::ViewSink showView);
    ~ServerContainerService() override;

    bool isStarted() const override { return container_->isStarted(); }
    void start(int port) override;
    void stop() override { container_->stop(); }

    TServerContainer1& container() { return *container_; }
    // Stop empties it (and its view); clients that vanished without saying goodbye leave the
    // view an hour after their last Ping.
    ClientRegistry& registry() { return registry_; }

private:
    ServiceContext context_;
    ClientRegistry registry_;
    std::unique_ptr<TServerContainer1> container_;
};

}  // namespace krp
