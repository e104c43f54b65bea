#ifndef LINKSETTINGS_H
#define LINKSETTINGS_H

#include <QtGlobal>

class QSerialPort;
class QString;

constexpr int kLinkBaudRate = 500000;
// What the port may hold between exchanges: a device that never stops
// talking then waits in its own buffers instead of filling our memory. A
// reply is a few bytes, far below it.
constexpr qint64 kReadBufferBytes = qint64{64} * 1024;

// Names the port and sets the generator's line settings: 500000 baud both
// ways, 8 data bits, no parity. Stop bits and flow control keep the
// library's defaults. Bounds the read buffer. The port is not opened.
void applyLinkSettings(QSerialPort &port, const QString &portName);

#endif // LINKSETTINGS_H
