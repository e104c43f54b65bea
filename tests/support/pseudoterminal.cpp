#include "tests/support/pseudoterminal.h"

#include <QElapsedTimer>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal()
{
    const Result<void> opened = link.openPseudoTerminal();
    if (!opened)
        qWarning("%s", qPrintable(opened.error()));
}

bool PseudoTerminal::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(link.fd(), bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            pollfd writable{link.fd(), POLLOUT, 0};
            ::poll(&writable, 1, 100);
            continue;
        }
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

qsizetype PseudoTerminal::writeAvailable(const QByteArray &bytes)
{
    const ssize_t n = ::write(link.fd(), bytes.constData(), size_t(bytes.size()));
    return n > 0 ? n : 0;
}

QByteArray PseudoTerminal::readChunk(int timeoutMs)
{
    pollfd ready{link.fd(), POLLIN, 0};
    if (::poll(&ready, 1, timeoutMs) <= 0 || !(ready.revents & POLLIN))
        return {};
    char chunk[256];
    const ssize_t n = ::read(link.fd(), chunk, sizeof chunk);
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
