#include "session/requestedport.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Result<void> checkRequestedPort(const QString &port)
{
    // The serial library takes a bare name as a name under /dev.
    const QString resolved = resolvePortName(port);
    const QString path = resolved.contains(u'/') ? resolved : QStringLiteral("/dev/") + resolved;
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    bool terminal = false;
    if (S_ISCHR(status.st_mode)) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return {}; // busy or not allowed now: the session keeps trying
        terminal = ::isatty(fd) == 1;
        ::close(fd);
    }
    if (terminal)
        return {};
    return Failure{QStringLiteral("%1 is not a terminal device").arg(path)};
}

Result<void> checkSingleGenerator(const QList<PortDescription> &ports)
{
    if (generatorPorts(ports).size() <= 1)
        return {};
    return Failure{chooseGeneratorPort({}, ports).error()};
}
