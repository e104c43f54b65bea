#include "cli/ctloutput.h"

#include <cerrno>
#include <cstring>

void printLine(std::FILE *stream, const QString &line)
{
    std::fprintf(stream, "%s\n", qPrintable(line));
}

void warn(const QString &message)
{
    printLine(stderr, QStringLiteral("kestrane-ctl: warning: ") + message);
}

Result<void> writeOutput(const QByteArray &bytes)
{
    if (std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout)
                != std::size_t(bytes.size())
        || std::fflush(stdout) != 0)
        return Failure{QStringLiteral("cannot write the output: %1")
                               .arg(QString::fromLocal8Bit(std::strerror(errno)))};
    return {};
}

Result<void> printOutput(const QString &line)
{
    return writeOutput(line.toLocal8Bit() + '\n');
}
