#ifndef GENERATORIDS_H
#define GENERATORIDS_H

#include <QtGlobal>

// The USB identifiers behind which a pulse generator's serial port sits.
constexpr quint16 kGeneratorVendorId = 0x0483;
constexpr quint16 kGeneratorProductId = 0x5740;

#endif // GENERATORIDS_H
