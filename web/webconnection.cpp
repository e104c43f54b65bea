#include "web/webconnection.h"

#include <QLoggingCategory>
#include <QTimer>

#include <sys/socket.h>
#include <utility>

Q_LOGGING_CATEGORY(lcWebConnection, "kestrane.web")

WebConnection::WebConnection(QObject *parent) :
    QTcpSocket(parent),
    idleTimer(new QTimer(this))
{
    // Room for one byte over the limit, so that a request too long is seen
    // as one: Qt HTTP Server 6.4 leaves an unfinished request in this
    // buffer, and a buffer merely full would stall the client unnoticed.
    setReadBufferSize(kMaxRequestBytes + 1);
    idleTimer->setSingleShot(true);
    idleTimer->setInterval(kIdleMs);
    connect(idleTimer, &QTimer::timeout, this, [this] {
        qCDebug(lcWebConnection) << "a web client took no answer for" << kIdleMs
                                 << "ms; closing it";
        cutOff();
    });
    idleTimer->start();
    // Connected before the server's own handler, so it counts what arrives
    // before the server reads it.
    connect(this, &QIODevice::readyRead, this, &WebConnection::countArrived);
    connect(this, &QIODevice::bytesWritten, this, &WebConnection::answerWritten);
}

qint64 WebConnection::writeData(const char *data, qint64 length)
{
    if (cuttingOff)
        return -1;
    if (bytesToWrite() + length > kMaxUnsentBytes) {
        qCDebug(lcWebConnection) << "a web client reads no answers; closing it";
        cutOff();
        return -1;
    }
    return QTcpSocket::writeData(data, length);
}

void WebConnection::countArrived()
{
    arrivedSinceAnswer += bytesAvailable();
    if (arrivedSinceAnswer > kMaxRequestBytes || cuttingOff) {
        if (!cuttingOff)
            qCDebug(lcWebConnection) << "a web client sent more than" << kMaxRequestBytes
                                     << "bytes without an answer; closing it";
        // Nothing of it reaches the server.
        skip(bytesAvailable());
        cutOff();
    }
}

void WebConnection::answerWritten()
{
    arrivedSinceAnswer = 0;
    idleTimer->start();
}

// Closed underneath Qt: the socket then ends as when the client closes
// it, the way Qt HTTP Server expects connections to end.
void WebConnection::cutOff()
{
    if (!std::exchange(cuttingOff, true))
        ::shutdown(int(socketDescriptor()), SHUT_RDWR);
}
