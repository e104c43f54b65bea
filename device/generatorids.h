#ifndef GENERATORIDS_H
#define GENERATORIDS_H

#include <QString>

// The USB identifiers behind which a pulse generator's serial port sits.
constexpr quint16 kGeneratorVendorId = 0x0483;
constexpr quint16 kGeneratorProductId = 0x5740;

// "0483:5740", as lsusb and udev write it, for messages to people.
inline QString generatorUsbId()
{
    return QStringLiteral("%1:%2")
            .arg(kGeneratorVendorId, 4, 16, QLatin1Char('0'))
            .arg(kGeneratorProductId, 4, 16, QLatin1Char('0'));
}

#endif // GENERATORIDS_H
