#include "device/exchange.h"

#include <QDebug>
#include <QSerialPort>

QByteArray transferFrame(QSerialPort &port, const QByteArray &frame)
{
    port.write(frame);
    port.waitForBytesWritten(kWriteTimeoutMs);
    port.waitForReadyRead(kReplyTimeoutMs);
    return port.readAll();
}

void exchangeCommand(QSerialPort &port, const QByteArray &frame)
{
    const QString reply = QString::fromUtf8(transferFrame(port, frame));
    qDebug() << "answer: " << reply;
}
