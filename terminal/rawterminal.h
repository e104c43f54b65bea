#ifndef RAWTERMINAL_H
#define RAWTERMINAL_H

#include "common/result.h"

#include <QString>

// The device's side of a serial link: the controlling end of a raw
// pseudo-terminal, or a real serial port. Owns its file descriptors.
class RawTerminal
{
public:
    RawTerminal() = default;
    ~RawTerminal();
    RawTerminal(const RawTerminal &) = delete;
    RawTerminal &operator=(const RawTerminal &) = delete;

    // A new pseudo-terminal in raw mode. A spare handle on the device end
    // keeps the link up while programs open and close that end.
    Result<void> openPseudoTerminal();
    // An existing serial port at 500000 baud, 8N1, raw.
    Result<void> openSerialPort(const QString &path);
    // A symbolic link to the device end, removed again by close() if it is
    // still there and still points at this device end.
    Result<void> makeLink(const QString &linkPath);

    int fd() const { return ioFd; }
    // Bytes sent that the other side has not taken yet.
    int unreadOutput() const;
    QString devicePath() const { return path; }
    bool isOpen() const { return ioFd >= 0; }
    void close();

private:
    int ioFd = -1;
    int spareDeviceFd = -1;
    QString path;
    QString link;
};

#endif // RAWTERMINAL_H
