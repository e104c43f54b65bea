#ifndef SCPISERVER_H
#define SCPISERVER_H

#include "common/result.h"

#include <QHostAddress>
#include <QObject>

class ClientSlots;
class GeneratorLock;
class GeneratorSession;
class TcpListener;

// Accepts SCPI clients on a TCP port, each with a conversation of its own,
// all sharing one generator session and its lock; a client beyond the free
// slots is told why and closed.
class ScpiServer : public QObject
{
    Q_OBJECT

public:
    ScpiServer(GeneratorSession &session, GeneratorLock &lock, ClientSlots &clients,
               QObject *parent = nullptr);

    Result<void> listen(const QHostAddress &address, quint16 port);
    quint16 port() const;

private:
    void accept(int socket);

    GeneratorSession &session;
    GeneratorLock &lock;
    ClientSlots &clientSlots;
    TcpListener *listener;
    int connections = 0; // ever accepted, to name them
};

#endif // SCPISERVER_H
