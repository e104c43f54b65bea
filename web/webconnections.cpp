#include "web/webconnections.h"

#include "instrument/tcplistener.h"
#include "web/webconnection.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char kTooMany[] = "HTTP/1.1 503 Service Unavailable\r\n"
                        "Content-Type: text/plain; charset=utf-8\r\n"
                        "Content-Length: 25\r\n"
                        "Connection: close\r\n"
                        "\r\n"
                        "too many web connections\n";

} // namespace

WebConnections::WebConnections(int maxConnections, QObject *parent) :
    QTcpServer(parent),
    listener(new TcpListener([this](int socket) { accept(socket); }, this)),
    maxConnections(maxConnections)
{}

Result<void> WebConnections::open(const QHostAddress &address, quint16 port)
{
    if (Result<void> listening = listener->listen(address, port); !listening)
        return listening;
    // QTcpServer gets a copy of the listening socket only to count as
    // listening; it never accepts on it.
    const int copy = ::fcntl(listener->socketDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return Failure{QString::fromLocal8Bit(std::strerror(errno))};
    if (!setSocketDescriptor(copy)) {
        ::close(copy);
        return Failure{errorString()};
    }
    pauseAccepting();
    return {};
}

QTcpSocket *WebConnections::nextPendingConnection()
{
    // QTcpServer starts accepting again when a connection is taken.
    QTcpSocket *connection = QTcpServer::nextPendingConnection();
    pauseAccepting();
    return connection;
}

void WebConnections::accept(int socket)
{
    if (connections >= maxConnections) {
        [[maybe_unused]] const ssize_t sent
                = ::send(socket, kTooMany, sizeof kTooMany - 1, MSG_NOSIGNAL);
        ::close(socket);
        return;
    }
    auto *connection = new WebConnection(this);
    if (!connection->setSocketDescriptor(socket)) {
        ::close(socket);
        delete connection;
        return;
    }
    ++connections;
    connect(connection, &QObject::destroyed, this, [this] {
        --connections;
        listener->resume();
    });
    addPendingConnection(connection);
}
