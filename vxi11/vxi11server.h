#ifndef VXI11SERVER_H
#define VXI11SERVER_H

#include "common/result.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>

#include <memory>

#include <rpc/rpc.h>

class ClientSlots;
class GeneratorLock;
class GeneratorSession;
class PortmapperRegistration;
class RpcConnection;
class TcpListener;
class Vxi11Link;

// The VXI-11 core channel: VISA's TCPIP::host::inst0::INSTR. Each link is a
// client of the instrument like a raw socket, and counts against the same
// client slots; a connection that goes takes its links, and their lock,
// with it. The abort channel is not served (create_link answers port 0).
class Vxi11Server : public QObject
{
    Q_OBJECT

public:
    // What a client may send in one device_write.
    static constexpr unsigned long kMaxReceiveBytes = 1024;

    Vxi11Server(GeneratorSession &session, GeneratorLock &lock, ClientSlots &clients,
                QObject *parent = nullptr);
    ~Vxi11Server() override;

    // Listens on a port of the system's choice and registers it with the
    // portmapper; fails when either cannot be done.
    Result<void> listen(const QHostAddress &address);
    quint16 port() const;

private:
    void accept(int socket);
    void serve(RpcConnection &connection, quint32 procedure, XDR &arguments);
    void createLink(RpcConnection &connection, XDR &arguments);
    void destroyLink(RpcConnection &connection, XDR &arguments);
    void write(RpcConnection &connection, XDR &arguments);
    void read(RpcConnection &connection, XDR &arguments);
    void serveGeneric(RpcConnection &connection, quint32 procedure, XDR &arguments);
    void lockLink(RpcConnection &connection, XDR &arguments);
    void unlockLink(RpcConnection &connection, XDR &arguments);
    Vxi11Link *link(long id, const RpcConnection &connection) const;

    GeneratorSession &session;
    GeneratorLock &lock;
    ClientSlots &clients;
    TcpListener *listener;
    std::unique_ptr<PortmapperRegistration> registration;
    QHash<long, QPointer<Vxi11Link>> links;
    long lastLinkId = 0;
    int connections = 0;
};

#endif // VXI11SERVER_H
