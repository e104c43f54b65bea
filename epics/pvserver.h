#ifndef PVSERVER_H
#define PVSERVER_H

#include "epics/processvariables.h"

#include "common/result.h"
#include "session/sessioncalls.h"

#include <pva/server.h>
#include <pva/sharedstate.h>

#include <QString>

#include <memory>
#include <vector>

namespace epics::pvAccess {
class ServerContext;
} // namespace epics::pvAccess

// The generator as the table's process variables (epics/processvariables.h),
// served over PVAccess. Clients' puts arrive on the server's threads and go
// to the session through SessionCalls; what the session knows is posted to
// every client (gets and monitors) from the session's thread whenever it
// changes. Made and ended on the Qt thread; ended once its event loop has
// ended (SessionCalls then answers every waiting put at once).
class PvServer
{
public:
    struct Settings
    {
        QString port; // empty: the one generator attached
        int replyTimeoutMs = 0;
        QString prefix;
        QString listenAddress; // IPv4
        RecordSettings record;
        RestoreMode restore = RestoreMode::None;
    };

    // Opens the session and starts serving.
    static Result<std::unique_ptr<PvServer>> start(const Settings &settings);
    ~PvServer();
    PvServer(const PvServer &) = delete;
    PvServer &operator=(const PvServer &) = delete;

    // The TCP port clients connect to.
    int tcpPort() const;

private:
    explicit PvServer(const Settings &settings);
    // On the session's thread.
    void watch(GeneratorSession &session);
    void refreshLink(GeneratorSession &session);
    void post(const GeneratorView &view, int channel);

    struct Served
    {
        const ProcessVariable *variable = nullptr;
        int channel = 0; // 0 for the generator's
        pvas::SharedPV::shared_pointer pv;
    };
    // In this order: the session posts to the variables until it ends, and
    // clients' puts reach the session until the server has ended.
    std::vector<Served> served;
    pvas::StaticProvider provider;
    std::optional<LinkView> shownLink; // on the session's thread
    std::unique_ptr<SessionCalls> calls;
    std::shared_ptr<epics::pvAccess::ServerContext> context;
};

#endif // PVSERVER_H
