#include "pseudoterminal.h"

#include <QElapsedTimer>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal()
{
    controllerFd = posix_openpt(O_RDWR | O_NOCTTY);
    if (controllerFd < 0 || grantpt(controllerFd) != 0 || unlockpt(controllerFd) != 0)
        return;
    path = QString::fromLocal8Bit(ptsname(controllerFd));
    deviceFd = ::open(ptsname(controllerFd), O_RDWR | O_NOCTTY);
    if (deviceFd < 0)
        return;
    termios settings{};
    tcgetattr(deviceFd, &settings);
    cfmakeraw(&settings);
    tcsetattr(deviceFd, TCSANOW, &settings);
}

PseudoTerminal::~PseudoTerminal()
{
    hangUp();
}

bool PseudoTerminal::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(controllerFd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray PseudoTerminal::readChunk(int timeoutMs)
{
    pollfd ready{controllerFd, POLLIN, 0};
    if (::poll(&ready, 1, timeoutMs) <= 0 || !(ready.revents & POLLIN))
        return {};
    char chunk[256];
    const ssize_t n = ::read(controllerFd, chunk, sizeof chunk);
    return n > 0 ? QByteArray(chunk, n) : QByteArray();
}

QByteArray PseudoTerminal::read(int count, int timeoutMs)
{
    QByteArray bytes;
    QElapsedTimer clock;
    clock.start();
    while (bytes.size() < count && clock.elapsed() < timeoutMs) {
        const QByteArray chunk = readChunk(int(timeoutMs - clock.elapsed()));
        if (chunk.isEmpty())
            break;
        bytes += chunk;
    }
    return bytes;
}

QByteArray PseudoTerminal::readPending()
{
    QByteArray bytes;
    for (QByteArray chunk = readChunk(0); !chunk.isEmpty(); chunk = readChunk(0))
        bytes += chunk;
    return bytes;
}

void PseudoTerminal::hangUp()
{
    if (deviceFd >= 0)
        ::close(deviceFd);
    if (controllerFd >= 0)
        ::close(controllerFd);
    deviceFd = controllerFd = -1;
}
