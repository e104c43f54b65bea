#include "device/portdiscovery.h"

#include "device/generatorids.h"

#include <QFileInfo>
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
