#ifndef EXCHANGE_H
#define EXCHANGE_H

#include "common/result.h"

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

// One exchange whose reply goes to the debug log, decoded as UTF-8; returns
// the reply as received.
QByteArray exchangeCommand(QSerialPort &port, const QByteArray &frame);

// A frame's reply as a script needs it: the device's answer line.
struct FrameReply
{
    QByteArray bytes;
    bool complete = false; // ended in a line feed
};

// Writes the frame, waits until it is out, then collects the reply until
// it ends in a line feed, timeoutMs have passed since the frame went out or
// kReadBufferBytes have come without a line feed.
// Fails when the frame is not written whole in timeoutMs or the port fails
// (a device that hung up). For programs that must get each reply right,
// not for the window's fixed exchange.
Result<FrameReply> exchangeFrameForReply(QSerialPort &port, const QByteArray &frame, int timeoutMs);

// What the port has received that no frame asked for (a greeting, a reply
// that came too late), without waiting. Fails when the port fails.
Result<QByteArray> takeUnrequestedBytes(QSerialPort &port);

#endif // EXCHANGE_H
