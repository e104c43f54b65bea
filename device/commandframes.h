#ifndef COMMANDFRAMES_H
#define COMMANDFRAMES_H

#include <QByteArray>

// Frames carry no start byte, terminator, length or checksum.
inline const QByteArray kSaveCommand = QByteArrayLiteral("SAV");

// How the generator says that it did not take a frame: a reply that begins
// with "ERR". Any other reply has no defined meaning.
bool isRefusal(const QByteArray &reply);

// Channel (2 digits), delay steps (3) and width steps (3), each left-padded
// with "0". A number too long for its field is written whole, never cut.
QByteArray buildSetCommand(int channel, int delaySteps, int widthSteps);

#endif // COMMANDFRAMES_H
