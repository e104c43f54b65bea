#ifndef PORTDISCOVERY_H
#define PORTDISCOVERY_H

#include "common/result.h"

#include <QList>
#include <QString>

#include <functional>

// What discovery needs to know of one serial port. An identifier the
// system does not report is 0, as the serial library reports it.
struct PortDescription
{
    QString portName;
    QString systemLocation;
    quint16 vendorId = 0;
    quint16 productId = 0;
    QString serialNumber = {}; // empty when the device reports none
};

using PortLister = std::function<QList<PortDescription>()>;

// The serial ports the system offers now, in its own order.
QList<PortDescription> systemPorts();

// The port a user named: a path that exists from the current folder is
// that file, made absolute; anything else goes to the serial library as it
// is, which takes a bare name (ttyACM0) as a name under /dev.
QString resolvePortName(const QString &requested);

// The ports behind which a generator sits, in the order given.
QList<PortDescription> generatorPorts(const QList<PortDescription> &ports);

// The port to use: the requested one, resolved as above (with the ids and
// serial number of the device it names, when `ports` lists it); without one, the
// one generator among `ports` or, once a generator's serial number is known,
// the generator with that number wherever it is now. The failure says what
// was found, in the same words for every program.
Result<PortDescription> chooseGeneratorPort(const QString &requested,
                                            const QList<PortDescription> &ports,
                                            const QString &serialNumber = {});

#endif // PORTDISCOVERY_H
