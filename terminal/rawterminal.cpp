#include "terminal/rawterminal.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

Failure<> systemError(const QString &what)
{
    return {QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)))};
}

bool makeRaw(int fd, speed_t speed)
{
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        return false;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (speed != B0 && cfsetspeed(&settings, speed) != 0)
        return false;
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

} // namespace

RawTerminal::~RawTerminal()
{
    close();
}

Result<void> RawTerminal::openPseudoTerminal()
{
    ioFd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (ioFd < 0 || grantpt(ioFd) != 0 || unlockpt(ioFd) != 0) {
        const Failure<> failure = systemError(QStringLiteral("cannot open a pseudo-terminal"));
        close();
        return failure;
    }
    const char *name = ptsname(ioFd);
    path = QString::fromLocal8Bit(name);
    spareDeviceFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (spareDeviceFd < 0 || !makeRaw(spareDeviceFd, B0)) {
        const Failure<> failure = systemError(path);
        close();
        return failure;
    }
    return {};
}

Result<void> RawTerminal::openSerialPort(const QString &devicePath)
{
    path = devicePath;
    ioFd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (ioFd < 0 || !makeRaw(ioFd, B500000)) {
        const Failure<> failure = systemError(path);
        close();
        return failure;
    }
    return {};
}

Result<void> RawTerminal::makeLink(const QString &linkPath)
{
    if (!QFile::link(path, linkPath))
        return Failure{
                QStringLiteral("cannot create the link %1 (does it exist already?)").arg(linkPath)};
    link = linkPath;
    return {};
}

int RawTerminal::unreadOutput() const
{
    int count = 0;
    // What a pseudo-terminal sends waits in its device end's input queue.
    const bool known = spareDeviceFd >= 0 ? ioctl(spareDeviceFd, TIOCINQ, &count) == 0
                                          : ioctl(ioFd, TIOCOUTQ, &count) == 0;
    return known ? count : 0;
}

void RawTerminal::close()
{
    // Someone may have put their own file, or another simulator's link,
    // there since.
    if (!link.isEmpty() && QFileInfo(link).isSymLink() && QFile::symLinkTarget(link) == path)
        QFile::remove(link);
    for (int *fd : {&spareDeviceFd, &ioFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    link.clear();
}
