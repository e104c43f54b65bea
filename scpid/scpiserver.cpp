#include "scpid/scpiserver.h"

#include "scpid/scpiconnection.h"
#include "instrument/tcplistener.h"

#include <sys/socket.h>
#include <unistd.h>

ScpiServer::ScpiServer(GeneratorSession &session, int maxClients, QObject *parent) :
    QObject(parent),
    session(session),
    listener(new TcpListener([this](int socket) { accept(socket); }, this)),
    maxClients(maxClients)
{}

Result<void> ScpiServer::listen(const QHostAddress &address, quint16 port)
{
    if (const Result<void> listening = listener->listen(address, port); !listening)
        return Failure{QStringLiteral("cannot listen on %1 port %2: %3")
                               .arg(address.toString())
                               .arg(port)
                               .arg(listening.error())};
    return {};
}

quint16 ScpiServer::port() const
{
    return listener->port();
}

void ScpiServer::accept(int socket)
{
    if (clients >= maxClients) {
        const QByteArray refusal = QStringLiteral("kestrane-scpid: too many clients (at most %1), "
                                                  "closing\n")
                                           .arg(maxClients)
                                           .toUtf8();
        [[maybe_unused]] const ssize_t sent
                = ::send(socket, refusal.constData(), size_t(refusal.size()), MSG_NOSIGNAL);
        ::close(socket);
        return;
    }
    ++clients;
    auto *connection = new ScpiConnection(socket, session, this);
    connect(connection, &QObject::destroyed, this, [this] {
        --clients;
        listener->resume();
    });
}
