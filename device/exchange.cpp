#include "device/exchange.h"

#include "device/linksettings.h"

#include <QDebug>
#include <QDeadlineTimer>
#include <QSerialPort>

namespace {

// Waits for more data; a timeout is no failure, anything else is.
Result<bool> waitForData(QSerialPort &port, int timeoutMs)
{
    port.clearError();
    if (port.waitForReadyRead(timeoutMs))
        return true;
    if (port.error() == QSerialPort::TimeoutError)
        return false;
    return Failure{port.errorString()};
}

} // namespace

QByteArray transferFrame(QSerialPort &port, const QByteArray &frame)
{
    port.write(frame);
    port.waitForBytesWritten(kWriteTimeoutMs);
    port.waitForReadyRead(kReplyTimeoutMs);
    return port.readAll();
}

QByteArray exchangeCommand(QSerialPort &port, const QByteArray &frame)
{
    QByteArray reply = transferFrame(port, frame);
    qDebug() << "answer: " << QString::fromUtf8(reply);
    return reply;
}

Result<FrameReply> exchangeFrameForReply(QSerialPort &port, const QByteArray &frame, int timeoutMs)
{
    port.clearError();
    if (port.write(frame) != frame.size())
        return Failure{QStringLiteral("not sent: %1").arg(port.errorString())};
    QDeadlineTimer deadline(timeoutMs);
    while (port.bytesToWrite() > 0) {
        if (!port.waitForBytesWritten(int(deadline.remainingTime())))
            return Failure{QStringLiteral("not sent whole: %1").arg(port.errorString())};
    }
    deadline.setRemainingTime(timeoutMs);
    FrameReply reply;
    while (true) {
        if (port.canReadLine()) {
            reply.bytes += port.readLine();
            reply.complete = true;
            return reply;
        }
        reply.bytes += port.readAll();
        // A device that talks without end gets no more room than the port's buffer.
        if (reply.bytes.size() >= kReadBufferBytes)
            return reply;
        const Result<bool> more = waitForData(port, int(deadline.remainingTime()));
        if (!more)
            return Failure{QStringLiteral("written, but the port failed before the reply ended: %1")
                                   .arg(more.error())};
        if (!more.value())
            return reply;
    }
}

Result<QByteArray> takeUnrequestedBytes(QSerialPort &port)
{
    QByteArray bytes = port.readAll();
    while (bytes.size() < kReadBufferBytes) {
        const Result<bool> more = waitForData(port, 0);
        if (!more)
            return Failure{more.error()};
        if (!more.value())
            break;
        bytes += port.readAll();
    }
    return bytes;
}
