#ifndef PORTOPENING_H
#define PORTOPENING_H

#include "common/result.h"

class QSerialPort;
class QString;

// Opens the port with the generator's link settings, then takes an
// exclusive lock on the device itself. The lock holds whatever name another
// program opened the device by (a /dev/serial/by-id link, the tty's own
// name) and whoever it runs as, so two programs never drive one generator.
// The failure says why, without the port's name; the port is closed then.
Result<void> openGeneratorPort(QSerialPort &port, const QString &portName);

#endif // PORTOPENING_H
