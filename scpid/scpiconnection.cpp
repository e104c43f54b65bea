#include "scpid/scpiconnection.h"

#include "scpid/scpiinterpreter.h"

#include <QTcpSocket>

ScpiConnection::ScpiConnection(QTcpSocket *socket, GeneratorSession &session, QObject *parent) :
    QObject(parent),
    socket(socket),
    interpreter(new ScpiInterpreter(session, this))
{
    socket->setParent(this);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Line end included; a longer line is never held whole.
    socket->setReadBufferSize(kMaxLineBytes + 2);
    connect(socket, &QTcpSocket::readyRead, this, &ScpiConnection::readLines);
    connect(socket, &QTcpSocket::bytesWritten, this, &ScpiConnection::readLines);
    connect(socket, &QTcpSocket::disconnected, this, &ScpiConnection::readLines);
    connect(interpreter, &ScpiInterpreter::lineDone, this, &ScpiConnection::answer);
    readLines();
}

void ScpiConnection::readLines()
{
    if (reading)
        return;
    reading = true;
    while (!interpreter->isBusy() && socket->bytesToWrite() < kMaxUnsentBytes) {
        if (skippingLongLine) {
            if (!skipLongLine())
                break;
            continue;
        }
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() < socket->readBufferSize())
                break;
            interpreter->reportError(
                    {ScpiErrorCode::TooMuchData,
                     QStringLiteral("a line is limited to %1 bytes").arg(kMaxLineBytes)});
            skippingLongLine = true;
            continue;
        }
        QByteArray line = socket->readLine();
        line.chop(line.endsWith("\r\n") ? 2 : 1);
        interpreter->execute(line);
    }
    reading = false;
    // The lines a client sent before leaving still run, unanswered.
    if (socket->state() == QAbstractSocket::UnconnectedState && !interpreter->isBusy())
        deleteLater();
}

// Drops what is buffered of an over-long line; false when its end has not
// arrived yet.
bool ScpiConnection::skipLongLine()
{
    constexpr qint64 kChunkBytes = 4096;
    while (socket->bytesAvailable() > 0) {
        const QByteArray chunk = socket->readLine(kChunkBytes);
        if (chunk.endsWith('\n')) {
            skippingLongLine = false;
            return true;
        }
    }
    return false;
}

void ScpiConnection::answer(const QByteArray &response)
{
    if (!response.isEmpty() && socket->state() == QAbstractSocket::ConnectedState) {
        socket->write(response + '\n');
        socket->flush(); // now rather than on the next turn of the event loop
    }
    readLines();
}
