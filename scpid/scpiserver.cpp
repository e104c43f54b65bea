#include "scpid/scpiserver.h"

#include "scpid/scpiconnection.h"

#include <QTcpServer>
#include <QTcpSocket>

ScpiServer::ScpiServer(GeneratorSession &session, int maxClients, QObject *parent) :
    QObject(parent),
    session(session),
    server(new QTcpServer(this)),
    maxClients(maxClients)
{
    connect(server, &QTcpServer::newConnection, this, &ScpiServer::acceptClients);
}

Result<void> ScpiServer::listen(const QHostAddress &address, quint16 port)
{
    if (server->listen(address, port))
        return {};
    return Failure{QStringLiteral("cannot listen on %1 port %2: %3")
                           .arg(address.toString())
                           .arg(port)
                           .arg(server->errorString())};
}

void ScpiServer::acceptClients()
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        if (clients >= maxClients) {
            socket->write(QStringLiteral("kestrane-scpid: too many clients (at most %1), closing\n")
                                  .arg(maxClients)
                                  .toUtf8());
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
            continue;
        }
        ++clients;
        auto *connection = new ScpiConnection(socket, session, this);
        connect(connection, &QObject::destroyed, this, [this] { --clients; });
    }
}
