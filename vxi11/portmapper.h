#ifndef PORTMAPPER_H
#define PORTMAPPER_H

#include "common/result.h"

#include <QtGlobal>

#include <memory>

// An RPC program's TCP port registered with this host's portmapper
// (rpcbind), so that clients find it through port 111; unregistered again
// when this goes. A registration left by a server that no longer listens is
// replaced; one of a server that still does is not.
class PortmapperRegistration
{
public:
    static Result<std::unique_ptr<PortmapperRegistration>> make(quint32 program, quint32 version,
                                                                quint16 port);
    ~PortmapperRegistration();
    PortmapperRegistration(const PortmapperRegistration &) = delete;
    PortmapperRegistration &operator=(const PortmapperRegistration &) = delete;

private:
    PortmapperRegistration(quint32 program, quint32 version) :
        program(program),
        version(version)
    {}

    const quint32 program;
    const quint32 version;
};

#endif // PORTMAPPER_H
