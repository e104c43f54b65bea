#ifndef EXCHANGE_H
#define EXCHANGE_H

#include <QByteArray>

class QSerialPort;

// The only pacing between frames: one press holds the caller for at most
// the sum of the two.
constexpr int kWriteTimeoutMs = 100;
constexpr int kReplyTimeoutMs = 100;

// Writes the frame, waits for it to go out and for data to arrive, each
// wait bounded, and returns whatever the port has received by then. A
// reply that comes later stays in the port for the next exchange. Nothing
// is checked: the generator's replies have no defined meaning.
QByteArray transferFrame(QSerialPort &port, const QByteArray &frame);

// One exchange whose reply goes to the debug log, decoded as UTF-8.
void exchangeCommand(QSerialPort &port, const QByteArray &frame);

#endif // EXCHANGE_H
