#include "web/webconnection.h"

#include <QLoggingCategory>
#include <QTimer>

#include <utility>

Q_LOGGING_CATEGORY(lcWebConnection, "kestrane.web")

WebConnection::WebConnection(QObject *parent) :
    QTcpSocket(parent),
    idleTimer(new QTimer(this))
{
    setReadBufferSize(kMaxRequestBytes);
    idleTimer->setSingleShot(true);
    idleTimer->setInterval(kIdleMs);
    connect(idleTimer, &QTimer::timeout, this, &QAbstractSocket::abort);
    idleTimer->start();
    // Connected before the server's own handler, so it counts what arrives
    // before the server reads it.
    connect(this, &QIODevice::readyRead, this, &WebConnection::countArrived);
    connect(this, &QIODevice::bytesWritten, this, &WebConnection::answerWritten);
}

qint64 WebConnection::writeData(const char *data, qint64 length)
{
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
    if (arrivedSinceAnswer > kMaxRequestBytes) {
        qCDebug(lcWebConnection) << "a web client sent more than" << kMaxRequestBytes
                                 << "bytes without an answer; closing it";
        cutOff();
    }
}

void WebConnection::answerWritten()
{
    arrivedSinceAnswer = 0;
    idleTimer->start();
}

// Later, not while Qt HTTP Server is reading from or writing to it.
void WebConnection::cutOff()
{
    if (std::exchange(cuttingOff, true))
        return;
    QTimer::singleShot(0, this, &QAbstractSocket::abort);
}
