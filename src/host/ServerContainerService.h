#pragma once
// Joins the window to the remote endpoint: the server container as the window's service, the
// client registry feeding the connection view, and the context every session's method module
// works in.
#include "FKRPalvelin.h"
#include "RemoteService.h"
#include "ClientRegistry.h"
#include "server/ServerContainerUnit1.h"
#include "methods/ServiceContext.h"

#include <memory>

namespace krp {

class ServerContainerService : public RemoteService {
public:
    ServerContainerService(TfrmKRPalvelin& window, const QString& certificateDir,
                           ServerContainerOptions options = {});
    ~ServerContainerService() override;

    bool isStarted() const override { return container_->isStarted(); }
    void start(int port) override;
    void stop() override { container_->stop(); }

    TServerContainer1& container() { return *container_; }
    ClientRegistry& registry() { return registry_; }

private:
    TfrmKRPalvelin& window_;
    ServiceContext context_;
    ClientRegistry registry_;
    std::unique_ptr<TServerContainer1> container_;
};

}  // namespace krp
