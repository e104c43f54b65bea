#ifndef LINKSETTINGS_H
#define LINKSETTINGS_H

class QSerialPort;
class QString;

constexpr int kLinkBaudRate = 500000;

// Names the port and sets the generator's line settings: 500000 baud both
// ways, 8 data bits, no parity. Stop bits and flow control keep the
// library's defaults. The port is not opened.
void applyLinkSettings(QSerialPort &port, const QString &portName);

#endif // LINKSETTINGS_H
