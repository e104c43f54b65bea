#ifndef UNITSERIAL_H
#define UNITSERIAL_H

#include <QString>

class GeneratorSession;

// The unit's serial number as every face of the daemon names it: *IDN?'s
// third field, the identification document, status.json and the DNS-SD
// TXT record. The generator's USB serial number, or "0" (IEEE 488.2's
// stand-in) while its port has none, as the simulator's and serial
// adapters' have not; without commas or semicolons, which would split *IDN?.
QString unitSerialNumber(const GeneratorSession &session);

#endif // UNITSERIAL_H
