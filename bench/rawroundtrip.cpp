#include "bench/rawroundtrip.h"

#include <QElapsedTimer>

#include <poll.h>
#include <unistd.h>

namespace {
constexpr int kReplyWaitMs = 5000;
const QByteArray kReply = QByteArrayLiteral("OK\r\n");
} // namespace

qint64 rawRoundTripNs(int fd, const QByteArray &frame)
{
    QElapsedTimer clock;
    clock.start();
    if (::write(fd, frame.constData(), size_t(frame.size())) != frame.size())
        return -1;
    QByteArray reply;
    char buffer[64];
    pollfd ready{fd, POLLIN, 0};
    while (reply.size() < kReply.size() && ::poll(&ready, 1, kReplyWaitMs) > 0) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count <= 0)
            return -1;
        reply.append(buffer, count);
    }
    return reply == kReply ? clock.nsecsElapsed() : -1;
}
