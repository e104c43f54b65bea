#include "scpid/scpiserver.h"

#include "scpid/scpiconnection.h"
#include "instrument/clientslots.h"
#include "instrument/tcplistener.h"

#include <unistd.h>

ScpiServer::ScpiServer(GeneratorSession &session, GeneratorLock &lock, ClientSlots &clients,
                       QObject *parent) :
    QObject(parent),
    session(session),
    lock(lock),
    clientSlots(clients),
    listener(new TcpListener([this](int socket) { accept(socket); }, this))
{
    connect(&clientSlots, &ClientSlots::freed, listener, &TcpListener::resume);
}

Result<void> ScpiServer::listen(const QHostAddress &address, quint16 port)
{
    return listener->listen(address, port);
}

quint16 ScpiServer::port() const
{
    return listener->port();
}

void ScpiServer::accept(int socket)
{
    if (!clientSlots.take()) {
        const QByteArray refusal = QStringLiteral("kestrane-scpid: too many clients (at most %1), "
                                                  "closing\n")
                                           .arg(clientSlots.limit())
                                           .toUtf8();
        [[maybe_unused]] const std::optional<qsizetype> sent = sendAvailable(socket, refusal);
        ::close(socket);
        return;
    }
    const QString name
            = QStringLiteral("socket %1 connection %2").arg(peerAddress(socket)).arg(++connections);
    auto *connection = new ScpiConnection(socket, session, lock, name, this);
    connect(connection, &QObject::destroyed, &clientSlots, &ClientSlots::give);
}
