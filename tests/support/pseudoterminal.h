#ifndef PSEUDOTERMINAL_H
#define PSEUDOTERMINAL_H

#include "terminal/rawterminal.h"

#include <QByteArray>
#include <QString>

// A raw pseudo-terminal standing in for a generator: the program under test
// opens devicePath(), the test reads and writes the other end. A spare
// handle on the device end keeps the link up while the program closes and
// reopens it; hangUp() closes everything, as an unplugged device would.
class PseudoTerminal
{
public:
    PseudoTerminal();

    bool isValid() const { return link.isOpen(); }
    QString devicePath() const { return link.devicePath(); }

    bool write(const QByteArray &bytes);
    // Writes what the line takes now, without waiting; returns the count.
    qsizetype writeAvailable(const QByteArray &bytes);
    // Whatever arrives within timeoutMs, stopping early once `count` bytes are in.
    QByteArray read(int count, int timeoutMs);
    // Everything the program has written so far that the test has not read.
    QByteArray readPending();
    void hangUp() { link.close(); }

private:
    QByteArray readChunk(int timeoutMs);

    RawTerminal link;
};

#endif // PSEUDOTERMINAL_H
