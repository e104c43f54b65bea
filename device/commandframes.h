#ifndef COMMANDFRAMES_H
#define COMMANDFRAMES_H

#include <QByteArray>

// Frames carry no start byte, terminator, length or checksum.
inline const QByteArray kSaveCommand = QByteArrayLiteral("SAV");

// Channel (2 digits), delay steps (3) and width steps (3), each left-padded
// with "0". A number too long for its field is written whole, never cut.
QByteArray buildSetCommand(int channel, int delaySteps, int widthSteps);

#endif // COMMANDFRAMES_H
