#ifndef SCPISERVER_H
#define SCPISERVER_H

#include "common/result.h"

#include <QHostAddress>
#include <QObject>

class GeneratorSession;
class TcpListener;

// Accepts SCPI clients on a TCP port, each with a conversation of its own,
// all sharing one generator session; at most maxClients at once, one more
// is told why and closed.
class ScpiServer : public QObject
{
    Q_OBJECT

public:
    ScpiServer(GeneratorSession &session, int maxClients, QObject *parent = nullptr);

    Result<void> listen(const QHostAddress &address, quint16 port);
    quint16 port() const;
    int clientCount() const { return clients; }

private:
    void accept(int socket);

    GeneratorSession &session;
    TcpListener *listener;
    const int maxClients;
    int clients = 0;
};

#endif // SCPISERVER_H
