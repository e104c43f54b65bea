#ifndef WEBCONNECTIONS_H
#define WEBCONNECTIONS_H

#include "common/result.h"

#include <QHostAddress>
#include <QTcpServer>

class TcpListener;

// The web server's listening socket, as Qt HTTP Server takes one: a
// QTcpServer whose connections are accepted by a TcpListener, which stops
// and waits when the process runs out of descriptors where QTcpServer would
// spin. At most maxConnections at once, each a WebConnection; one more is
// answered 503 and closed.
class WebConnections : public QTcpServer
{
    Q_OBJECT

public:
    WebConnections(int maxConnections, QObject *parent = nullptr);

    Result<void> open(const QHostAddress &address, quint16 port);
    int connectionCount() const { return connections; }

    QTcpSocket *nextPendingConnection() override;

private:
    void accept(int socket);

    TcpListener *listener;
    const int maxConnections;
    int connections = 0;
};

#endif // WEBCONNECTIONS_H
