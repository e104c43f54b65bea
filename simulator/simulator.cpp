#include "simulator/simulator.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

const QByteArray kOk = QByteArrayLiteral("OK\r\n");
const QByteArray kError = QByteArrayLiteral("ERR\r\n");
// Invalid UTF-8, then "reverse video" and "reset" escape sequences.
const QByteArray kNoise = QByteArrayLiteral("\xff\xfe\xc3\x1b[7m\x1b[0m");
// Like a device's output buffer: replies wait here while the host does not
// read; one that no longer fits is dropped whole, never sent in part.
constexpr qsizetype kOutputBufferBytes = 4096;
// One read per wake-up, so that a host that never stops sending cannot
// keep signals and timers waiting.
constexpr int kReadChunkBytes = 4096;

QString escaped(const QByteArray &bytes)
{
    QString text;
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        if (byte == '\\')
            text += QStringLiteral("\\\\");
        else if (byte == '\r')
            text += QStringLiteral("\\r");
        else if (byte == '\n')
            text += QStringLiteral("\\n");
        else if (value >= 0x20 && value < 0x7f)
            text += QLatin1Char(byte);
        else
            text += QStringLiteral("\\x%1").arg(value, 2, 16, QLatin1Char('0'));
    }
    return text;
}

} // namespace

Simulator::Simulator(SimulatorOptions options, const GeneratorState &state, RawTerminal &link,
                     QObject *parent) :
    QObject(parent),
    options(std::move(options)),
    state(state),
    link(link),
    readNotifier(new QSocketNotifier(link.fd(), QSocketNotifier::Read, this)),
    writeNotifier(new QSocketNotifier(link.fd(), QSocketNotifier::Write, this)),
    idleTimer(new QTimer(this)),
    sendTimer(new QTimer(this))
{
    readNotifier->setEnabled(false);
    connect(readNotifier, &QSocketNotifier::activated, this, &Simulator::readLink);
    writeNotifier->setEnabled(false);
    connect(writeNotifier, &QSocketNotifier::activated, this, &Simulator::sendUnsent);
    idleTimer->setSingleShot(true);
    idleTimer->setTimerType(Qt::PreciseTimer);
    connect(idleTimer, &QTimer::timeout, this, [this] { handle(reader.expire(clock.elapsed())); });
    sendTimer->setSingleShot(true);
    sendTimer->setTimerType(Qt::PreciseTimer);
    connect(sendTimer, &QTimer::timeout, this, &Simulator::sendDueChunks);
}

void Simulator::start()
{
    clock.start();
    if (options.verbose)
        log(state.table());
    if (!options.greeting.isEmpty()) {
        writeLink(options.greeting);
        log(QStringLiteral("greeting %1").arg(escaped(options.greeting)));
    }
    readNotifier->setEnabled(true);
    checkHangUp();
}

void Simulator::readLink()
{
    char buffer[kReadChunkBytes];
    const ssize_t count = ::read(link.fd(), buffer, sizeof buffer);
    if (count > 0) {
        handle(reader.feed(QByteArray(buffer, count), clock.elapsed()));
    } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
        readNotifier->setEnabled(false);
        emit linkFailed(count == 0 ? QStringLiteral("the link was closed")
                                   : QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    if (reader.hasPartialFrame())
        idleTimer->start(int(FrameReader::kIdleTimeoutMs) + 1);
    else
        idleTimer->stop();
}

void Simulator::handle(const QList<FrameEvent> &events)
{
    for (const FrameEvent &event : events) {
        if (hangingUp)
            return;
        if (event.kind == FrameEvent::Dropped) {
            log(QStringLiteral("dropped %1").arg(escaped(event.bytes)));
            continue;
        }
        log(QStringLiteral("frame %1").arg(escaped(event.bytes)));
        const QByteArray reply = answer(event.bytes);
        if (options.silent)
            log(QStringLiteral("silent, no reply"));
        else
            queueReply(reply);
    }
}

QByteArray Simulator::answer(const QByteArray &frame)
{
    if (frame == "SAV") {
        if (options.statePath.isEmpty())
            return kOk;
        const Result<void> saved = state.save(options.statePath);
        if (saved)
            return kOk;
        report(QStringLiteral("cannot save to %1: %2").arg(options.statePath, saved.error()));
        return kError;
    }
    if (!state.applySetFrame(frame))
        return kError;
    if (options.verbose)
        log(state.table());
    return kOk;
}

void Simulator::queueReply(const QByteArray &reply)
{
    const QByteArray bytes = (options.noise ? kNoise : QByteArray()) + reply;
    if (queuedBytes() + bytes.size() > kOutputBufferBytes) {
        log(QStringLiteral("output buffer full, reply %1 dropped").arg(escaped(bytes)));
        return;
    }
    log(QStringLiteral("reply %1").arg(escaped(bytes)));
    qint64 dueMs = clock.elapsed() + options.replyDelayMs;
    if (!outgoing.empty())
        dueMs = std::max(dueMs, outgoing.back().dueMs);
    if (options.splitMs) {
        const qsizetype half = bytes.size() / 2;
        outgoing.push_back({dueMs, bytes.left(half), false});
        outgoing.push_back({dueMs + *options.splitMs, bytes.mid(half), true});
    } else {
        outgoing.push_back({dueMs, bytes, true});
    }
    sendDueChunks();
}

void Simulator::sendDueChunks()
{
    while (!outgoing.empty() && outgoing.front().dueMs <= clock.elapsed()) {
        const Chunk chunk = outgoing.front();
        outgoing.pop_front();
        writeLink(chunk.bytes);
        if (chunk.endsReply) {
            ++repliesSent;
            checkHangUp();
        }
    }
    if (!outgoing.empty())
        sendTimer->start(int(outgoing.front().dueMs - clock.elapsed()));
}

qsizetype Simulator::queuedBytes() const
{
    qsizetype bytes = unsent.size();
    for (const Chunk &chunk : outgoing)
        bytes += chunk.bytes.size();
    return bytes;
}

void Simulator::writeLink(const QByteArray &bytes)
{
    unsent += bytes;
    sendUnsent();
}

void Simulator::sendUnsent()
{
    while (!unsent.isEmpty()) {
        const ssize_t count = ::write(link.fd(), unsent.constData(), size_t(unsent.size()));
        if (count > 0) {
            unsent.remove(0, count);
        } else if (count < 0 && errno == EAGAIN) {
            break; // the host is not reading: wait until the link drains
        } else if (count == 0 || errno != EINTR) {
            log(QStringLiteral("could not send %1 byte(s): %2")
                        .arg(unsent.size())
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
            unsent.clear();
        }
    }
    writeNotifier->setEnabled(!unsent.isEmpty());
}

void Simulator::checkHangUp()
{
    if (hangingUp || !options.hangupAfterFrames || repliesSent < *options.hangupAfterFrames)
        return;
    hangingUp = true;
    readNotifier->setEnabled(false);
    sendTimer->stop();
    idleTimer->stop();
    outgoing.clear();
    log(QStringLiteral("hanging up after %1 repl%2")
                .arg(repliesSent)
                .arg(repliesSent == 1 ? "y" : "ies"));
    clock.restart();
    hangUpWhenDrained();
}

// Closing at once would discard the last reply before anyone could read it.
// The kernel moves written bytes to the other side's queue a little later,
// so an empty queue only counts after a short while.
void Simulator::hangUpWhenDrained()
{
    constexpr qint64 kDeliveryMs = 20;
    constexpr qint64 kDrainLimitMs = 1000;
    constexpr int kDrainPollMs = 5;
    const qint64 elapsedMs = clock.elapsed();
    const bool drained = unsent.isEmpty() && link.unreadOutput() == 0;
    if (elapsedMs < kDeliveryMs || (!drained && elapsedMs < kDrainLimitMs)) {
        QTimer::singleShot(kDrainPollMs, this, &Simulator::hangUpWhenDrained);
        return;
    }
    writeNotifier->setEnabled(false);
    link.close();
    emit hungUp();
}

void Simulator::log(const QString &line) const
{
    if (options.verbose)
        report(line);
}

void Simulator::report(const QString &line) const
{
    const QByteArray text = line.toLocal8Bit();
    for (const QByteArray &part : text.split('\n'))
        std::fprintf(stderr, "kestrane-sim: %s\n", part.constData());
    std::fflush(stderr);
}
