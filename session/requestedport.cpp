#include "session/requestedport.h"

#include <QFile>
#include <QStringList>

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
    const QList<PortDescription> found = generatorPorts(ports);
    if (found.size() <= 1)
        return {};
    QStringList names;
    for (const PortDescription &port : found)
        names.append(port.serialNumber.isEmpty() ? port.portName
                                                 : QStringLiteral("%1 (serial number %2)")
                                                           .arg(port.portName, port.serialNumber));
    return Failure{QStringLiteral("%1 generators attached: %2; pick one with --port")
                           .arg(found.size())
                           .arg(names.join(QStringLiteral(", ")))};
}
