#pragma once
// What the window needs of the remote-method service held by the server container: its
// started state, start on a port, stop. The server container implements it.
#include <QString>

namespace krp {

class RemoteService {
public:
    virtual ~RemoteService() = default;
    virtual bool isStarted() const = 0;
    // Sets the transport's port and starts the server with its transport. Throws
    // std::exception with an operator-readable message when it cannot start; the service then
    // stays stopped.
    virtual void start(int port) = 0;
    // Stops the server, ending every client session. Stopping a stopped service does nothing.
    virtual void stop() = 0;
};

// Stands in while no server container is attached: it only remembers the state.
class NullRemoteService : public RemoteService {
public:
    bool isStarted() const override { return started_; }
    void start(int port) override
    {
        port_ = port;
        started_ = true;
    }
    void stop() override { started_ = false; }
    int port() const { return port_; }

private:
    bool started_ = false;
    int port_ = 0;
};

}  // namespace krp
