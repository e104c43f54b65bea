#include "device/portdiscovery.h"

#include "device/generatorids.h"

#include <QFileInfo>
#include <QStringList>
#include <QSerialPortInfo>

QList<PortDescription> systemPorts()
{
    QList<PortDescription> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        ports.append({info.portName(), info.systemLocation(), info.vendorIdentifier(),
                      info.productIdentifier(), info.serialNumber()});
    return ports;
}

QString resolvePortName(const QString &requested)
{
    const QFileInfo file(requested);
    return !requested.isEmpty() && file.exists() ? file.absoluteFilePath() : requested;
}

QList<PortDescription> generatorPorts(const QList<PortDescription> &ports)
{
    QList<PortDescription> found;
    for (const PortDescription &port : ports) {
        if (port.vendorId == kGeneratorVendorId && port.productId == kGeneratorProductId)
            found.append(port);
    }
    return found;
}

Result<PortDescription> chooseGeneratorPort(const QString &requested,
                                            const QList<PortDescription> &ports,
                                            const QString &serialNumber)
{
    if (!requested.isEmpty()) {
        const QString path = resolvePortName(requested);
        // The system's own description of the same device names the
        // generator by its serial number, whatever link it was opened by.
        const QString device = QFileInfo(path).canonicalFilePath();
        for (const PortDescription &port : ports) {
            const bool same = device.isEmpty() ? port.portName == path
                                               : QFileInfo(port.systemLocation).canonicalFilePath()
                                                         == device;
            if (same)
                return PortDescription{path, path, port.vendorId, port.productId,
                                       port.serialNumber};
        }
        return PortDescription{path, path};
    }
    const QList<PortDescription> found = generatorPorts(ports);
    if (!serialNumber.isEmpty()) {
        for (const PortDescription &candidate : found) {
            if (candidate.serialNumber == serialNumber)
                return candidate;
        }
        return Failure{QStringLiteral("generator %1 not found").arg(serialNumber)};
    }
    if (found.size() == 1)
        return found.first();
    if (found.isEmpty())
        return Failure{QStringLiteral("no generator found (USB id %1)").arg(generatorUsbId())};
    QStringList names;
    for (const PortDescription &port : found)
        names.append(port.serialNumber.isEmpty() ? port.portName
                                                 : QStringLiteral("%1 (serial number %2)")
                                                           .arg(port.portName, port.serialNumber));
    return Failure{QStringLiteral("%1 generators found: %2; name the port to use")
                           .arg(found.size())
                           .arg(names.join(QStringLiteral(", ")))};
}
