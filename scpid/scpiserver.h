#ifndef SCPISERVER_H
#define SCPISERVER_H

#include "common/result.h"

#include <QHostAddress>
#include <QObject>

class GeneratorSession;
class QTcpServer;

// Accepts SCPI clients on a TCP port, each with a conversation of its own,
// all sharing one generator session.
class ScpiServer : public QObject
{
    Q_OBJECT

public:
    ScpiServer(GeneratorSession &session, int maxClients, QObject *parent = nullptr);

    Result<void> listen(const QHostAddress &address, quint16 port);
    int clientCount() const { return clients; }

private:
    void acceptClients();

    GeneratorSession &session;
    QTcpServer *server;
    const int maxClients;
    int clients = 0;
};

#endif // SCPISERVER_H
