#include "device/portopening.h"

#include "device/linksettings.h"

#include <QSerialPort>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/file.h>
#endif

Result<void> openGeneratorPort(QSerialPort &port, const QString &portName)
{
    applyLinkSettings(port, portName);
    if (!port.open(QIODevice::ReadWrite)) {
        const QString reason = port.errorString();
        port.clearError();
        return Failure{reason};
    }
#ifdef Q_OS_UNIX
    // Serial ports on Windows are exclusive already.
    if (::flock(int(port.handle()), LOCK_EX | LOCK_NB) != 0) {
        const QString reason = errno == EWOULDBLOCK ? QStringLiteral("in use by another program")
                                                    : QString::fromLocal8Bit(std::strerror(errno));
        port.close();
        return Failure{reason};
    }
#endif
    return {};
}
