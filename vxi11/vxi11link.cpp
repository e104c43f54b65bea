#include "vxi11/vxi11link.h"

#include "instrument/scpiinterpreter.h"
#include "scpi/scpiparser.h"

#include <QScopedValueRollback>
#include <QTimer>

#include <limits>

namespace {

// As the raw socket: one message is held, and answers up to this much wait
// to be read before the link runs nothing more.
constexpr qsizetype kMaxMessageBytes = qsizetype{64} * 1024;
constexpr qsizetype kMaxUnreadBytes = qsizetype{1024} * 1024;

bool sendsToGenerator(const QByteArrayList &lines)
{
    for (const QByteArray &line : lines) {
        for (const ScpiCommand &command : parseScpiLine(line).commands) {
            if (sendsToGenerator(command))
                return true;
        }
    }
    return false;
}

QByteArrayList linesOf(QByteArray message)
{
    if (message.endsWith('\n'))
        message.chop(1);
    QByteArrayList lines = message.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

} // namespace

Vxi11Link::Vxi11Link(GeneratorSession &session, GeneratorLock &lock, const QString &name,
                     QObject *parent) :
    QObject(parent),
    client(lock, name),
    interpreter(new ScpiInterpreter(session, client, this)),
    waitTimer(new QTimer(this))
{
    waitTimer->setSingleShot(true);
    connect(waitTimer, &QTimer::timeout, this, &Vxi11Link::serviceWaits);
    connect(interpreter, &ScpiInterpreter::lineDone, this, &Vxi11Link::answered);
    connect(&lock, &GeneratorLock::released, this, &Vxi11Link::serviceWaits);
}

Vxi11Link::~Vxi11Link()
{
    // Releasing the lock as the link goes must not call back into it.
    disconnect(&client.lock(), nullptr, this, nullptr);
}

void Vxi11Link::write(const QByteArray &data, bool end, int lockWaitMs, int ioTimeoutMs,
                      const WriteDone &done)
{
    if (skippingMessage) {
        skippingMessage = !end;
        return done(Vxi11Error::None);
    }
    message += data;
    if (message.size() > kMaxMessageBytes) {
        interpreter->reportError(
                {ScpiErrorCode::TooMuchData,
                 QStringLiteral("a command is limited to %1 bytes").arg(kMaxMessageBytes)});
        message.clear();
        skippingMessage = !end;
        return done(Vxi11Error::None);
    }
    if (!end)
        return done(Vxi11Error::None);
    const QByteArrayList messageLines = linesOf(std::exchange(message, {}));
    const bool needsLock = sendsToGenerator(messageLines);
    const QDeadlineTimer lockDeadline(lockWaitMs);
    const QDeadlineTimer ioDeadline(ioTimeoutMs);
    const auto take = [this, messageLines, needsLock, lockDeadline, done] {
        return takeMessage(messageLines, needsLock, lockDeadline, done);
    };
    if (take())
        return;
    const auto expire = [this, needsLock, ioDeadline, done]() -> std::optional<QDeadlineTimer> {
        if (needsLock && client.lock().isHeldByOtherThan(client))
            done(Vxi11Error::DeviceLocked);
        else if (ioDeadline.hasExpired())
            done(Vxi11Error::IoTimeout);
        else
            return ioDeadline; // the lock is free, the last message still runs
        return std::nullopt;
    };
    wait({take, expire, needsLock ? qMin(lockDeadline, ioDeadline) : ioDeadline});
}

// Runs a whole message once the last one has run, unless another client
// holds the lock it needs; false while it has to wait.
bool Vxi11Link::takeMessage(const QByteArrayList &messageLines, bool needsLock,
                            const QDeadlineTimer &lockDeadline, const WriteDone &done)
{
    if (needsLock && client.lock().isHeldByOtherThan(client)) {
        if (!lockDeadline.hasExpired())
            return false;
        done(Vxi11Error::DeviceLocked);
        return true;
    }
    if (!lines.isEmpty() || interpreter->isBusy() || answers.size() >= kMaxUnreadBytes)
        return false;
    lines = messageLines;
    done(Vxi11Error::None);
    runLines();
    return true;
}

void Vxi11Link::runLines()
{
    while (!lines.isEmpty() && !interpreter->isBusy() && answers.size() < kMaxUnreadBytes)
        interpreter->execute(lines.takeFirst());
}

void Vxi11Link::answered(const QByteArray &response)
{
    if (answersToDrop > 0)
        --answersToDrop;
    else if (!response.isEmpty())
        answers += response + '\n';
    runLines();
    serviceWaits();
}

void Vxi11Link::read(qsizetype requestSize, std::optional<char> termChar, int ioTimeoutMs,
                     const ReadDone &done)
{
    const auto take = [this, requestSize, termChar, done] {
        if (answers.isEmpty())
            return false;
        const qsizetype end = answers.indexOf('\n') + 1;
        qsizetype size = qMin(end, requestSize);
        long reason = 0;
        if (const qsizetype mark = termChar ? answers.indexOf(*termChar) : -1;
            mark >= 0 && mark < size) {
            size = mark + 1;
            reason |= kReasonTermChar;
        }
        if (size == end)
            reason |= kReasonEnd;
        else if (!(reason & kReasonTermChar))
            reason |= kReasonRequestCount;
        const QByteArray data = answers.left(size);
        answers.remove(0, size);
        done(Vxi11Error::None, reason, data);
        runLines();
        return true;
    };
    if (take())
        return;
    const auto expire = [done]() -> std::optional<QDeadlineTimer> {
        done(Vxi11Error::IoTimeout, 0, {});
        return std::nullopt;
    };
    wait({take, expire, QDeadlineTimer(ioTimeoutMs)});
}

int Vxi11Link::statusByte() const
{
    constexpr int kMessageAvailable = 0x10;
    return interpreter->statusByte() | (answers.isEmpty() ? 0 : kMessageAvailable);
}

void Vxi11Link::clear()
{
    message.clear();
    skippingMessage = false;
    lines.clear();
    answers.clear();
    answersToDrop = interpreter->isBusy() ? 1 : 0;
}

void Vxi11Link::lock(int waitMs, const LockDone &done)
{
    const auto take = [this, done] {
        if (!client.lock().take(client))
            return false;
        done(Vxi11Error::None);
        return true;
    };
    if (take())
        return;
    const auto expire = [done]() -> std::optional<QDeadlineTimer> {
        done(Vxi11Error::DeviceLocked);
        return std::nullopt;
    };
    wait({take, expire, QDeadlineTimer(waitMs)});
}

bool Vxi11Link::unlock()
{
    return client.lock().release(client);
}

void Vxi11Link::wait(Wait next)
{
    waits.push_back(std::move(next));
    serviceWaits();
}

// Finishes the waits that can finish and expires those whose time is up,
// then sleeps until the next deadline. A wait finished here may make others
// finishable (an answer read lets the next line run): the round repeats.
void Vxi11Link::serviceWaits()
{
    if (servicingWaits) {
        serviceAgain = true;
        return;
    }
    const QScopedValueRollback<bool> servicing(servicingWaits, true);
    do {
        serviceAgain = false;
        for (auto wait = waits.begin(); wait != waits.end();) {
            if (wait->finish()) {
                wait = waits.erase(wait);
                continue;
            }
            if (!wait->deadline.hasExpired()) {
                ++wait;
                continue;
            }
            if (const std::optional<QDeadlineTimer> later = wait->expire()) {
                wait->deadline = *later;
                ++wait;
            } else {
                wait = waits.erase(wait);
            }
        }
    } while (serviceAgain);
    qint64 nextMs = std::numeric_limits<int>::max();
    for (const Wait &wait : waits)
        nextMs = qMin(nextMs, wait.deadline.remainingTime());
    if (waits.empty())
        waitTimer->stop();
    else
        waitTimer->start(int(qMax<qint64>(nextMs, 0)));
}
