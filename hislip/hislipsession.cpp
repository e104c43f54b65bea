#include "hislip/hislipsession.h"

#include "instrument/scpiinterpreter.h"
#include "instrument/tcplistener.h"

#include <QScopedValueRollback>
#include <QTimer>
#include <QtEndian>

#include <climits>

namespace {

constexpr int kMessageAvailable = 0x10;
constexpr quint8 kSynchronizedMode = 0;

// Whether `id` comes after `last` in the client's count (by two, wrapping).
bool isAfter(quint32 id, quint32 last)
{
    const quint32 distance = id - last;
    return distance != 0 && distance < 0x80000000u;
}

// Where a client sends a type: true on the synchronous connection, false
// on the asynchronous one, nothing for the types only servers send.
std::optional<bool> isSynchronousRequest(HislipType type)
{
    switch (type) {
    case HislipType::Initialize:
    case HislipType::Data:
    case HislipType::DataEnd:
    case HislipType::DeviceClearComplete:
    case HislipType::Trigger:
        return true;
    case HislipType::AsyncLock:
    case HislipType::AsyncRemoteLocalControl:
    case HislipType::AsyncMaximumMessageSize:
    case HislipType::AsyncInitialize:
    case HislipType::AsyncDeviceClear:
    case HislipType::AsyncStatusQuery:
    case HislipType::AsyncLockInfo:
        return false;
    default:
        return std::nullopt;
    }
}

} // namespace

HislipSession::HislipSession(quint16 id, HislipChannel *synchronous, GeneratorSession &session,
                             GeneratorLock &lock, const QString &name, QObject *parent) :
    QObject(parent),
    sessionId(id),
    client(lock, name),
    interpreter(new ScpiInterpreter(session, client, this)),
    sync(synchronous),
    lockTimer(new QTimer(this))
{
    sync->setParent(this);
    sync->setReceiver(this);
    lockTimer->setSingleShot(true);
    connect(lockTimer, &QTimer::timeout, this, &HislipSession::serviceLockWait);
    connect(&lock, &GeneratorLock::released, this, &HislipSession::serviceLockWait);
    connect(interpreter, &ScpiInterpreter::lineDone, this, &HislipSession::answered);
    connect(sync, &HislipChannel::sent, this, &HislipSession::runLines);
    qCDebug(lcHislip).noquote() << client.name() << "begins";
}

HislipSession::~HislipSession()
{
    // Releasing the lock as the session goes must not call back into it.
    disconnect(&client.lock(), nullptr, this, nullptr);
    qCDebug(lcHislip).noquote() << client.name() << "ends";
}

QString HislipSession::peer() const
{
    return sync ? sync->peer() : QString();
}

void HislipSession::joinAsynchronous(HislipChannel *asynchronous)
{
    async = asynchronous;
    async->setParent(this);
    async->setReceiver(this);
    async->setAwaitingClient(false);
    sync->setAwaitingClient(false);
}

void HislipSession::receive(HislipChannel &channel, const HislipHeader &header,
                            const QByteArray &payload)
{
    if (ending || refuseUnknown(channel, header))
        return;
    const auto type = HislipType(header.type);
    if (type == HislipType::FatalError) {
        qCDebug(lcHislip).noquote() << client.name() << "got fatal error" << header.control;
        return end();
    }
    if (type == HislipType::Error) {
        qCDebug(lcHislip).noquote() << client.name() << "got error" << header.control;
        return;
    }
    const bool synchronous = &channel == sync;
    if (type == HislipType::Initialize || type == HislipType::AsyncInitialize)
        return failBoth(HislipFatal::InvalidInitialization,
                        QStringLiteral("the session is initialized already"));
    if (isSynchronousRequest(type) != synchronous)
        return failBoth(HislipFatal::Unidentified,
                        QStringLiteral("a client does not send message type %1 on this connection")
                                .arg(header.type));
    if (!async)
        return failBoth(HislipFatal::ChannelsNotEstablished,
                        QStringLiteral("the asynchronous connection is not established"));
    if (synchronous)
        return receiveSynchronous(header);
    if (header.payloadLength > quint64(HislipChannel::kMaxControlPayloadBytes))
        return async->send(HislipType::Error, quint8(HislipError::MessageTooLarge), 0,
                           QByteArrayLiteral("payload too large"));
    receiveAsynchronous(header, payload);
}

// Error for a type this version does not know; true when it was one.
bool HislipSession::refuseUnknown(HislipChannel &channel, const HislipHeader &header)
{
    if (header.type <= kHislipLastKnownType)
        return false;
    const bool vendor = header.type >= kHislipFirstVendorType;
    channel.send(HislipType::Error,
                 quint8(vendor ? HislipError::UnknownVendorType : HislipError::UnknownType), 0,
                 QStringLiteral("unknown message type %1").arg(header.type).toUtf8());
    return true;
}

void HislipSession::receiveSynchronous(const HislipHeader &header)
{
    if (header.control & kHislipRmtDelivered)
        answerUnread = false;
    if (header.is(HislipType::Trigger)) {
        // The generator has nothing to trigger.
        lastMessageId = header.parameter;
        return serviceLockWait();
    }
    // DeviceClearComplete: what the client sent before it is gone.
    clearing = false;
    lastMessageId = kHislipFirstMessageId - 2;
    sync->send(HislipType::DeviceClearAcknowledge, kSynchronizedMode, 0);
    sync->resume();
}

void HislipSession::receiveAsynchronous(const HislipHeader &header, const QByteArray &payload)
{
    switch (HislipType(header.type)) {
    case HislipType::AsyncLock:
        return lock(header, payload);
    case HislipType::AsyncLockInfo: {
        GeneratorLock &generatorLock = client.lock();
        return async->send(HislipType::AsyncLockInfoResponse,
                           generatorLock.isHeldExclusively() ? 1 : 0,
                           quint32(generatorLock.holderCount()));
    }
    case HislipType::AsyncStatusQuery:
        if (header.control & kHislipRmtDelivered)
            answerUnread = false;
        return async->send(HislipType::AsyncStatusResponse, quint8(statusByte()), 0);
    case HislipType::AsyncMaximumMessageSize:
        return setMaximumMessageSize(payload);
    case HislipType::AsyncDeviceClear:
        return beginDeviceClear();
    default: // AsyncRemoteLocalControl: the generator has no front panel to lock
        return async->send(HislipType::AsyncRemoteLocalResponse, 0, 0);
    }
}

void HislipSession::receiveData(HislipChannel &channel, const HislipHeader &header,
                                const QByteArray &piece, bool first, bool last)
{
    if (ending)
        return;
    if (first) {
        if (&channel != sync)
            return failBoth(HislipFatal::Unidentified,
                            QStringLiteral("data on the asynchronous connection"));
        if (!async)
            return failBoth(HislipFatal::ChannelsNotEstablished,
                            QStringLiteral("the asynchronous connection is not established"));
        if (header.control & kHislipRmtDelivered)
            answerUnread = false;
    }
    if (clearing)
        return;
    takeText(piece, header.parameter);
    if (last) {
        if (header.is(HislipType::DataEnd)) {
            // The end of the message ends its last line.
            if (!skippingLongLine && !partialLine.isEmpty())
                queueLine(std::exchange(partialLine, {}), header.parameter);
            skippingLongLine = false;
        }
        lastMessageId = header.parameter;
    }
    runLines();
}

qsizetype HislipSession::dataRoom() const
{
    // While clearing, whatever comes is dropped.
    if (clearing)
        return kMaxLineBytes;
    return qMax<qsizetype>(kMaxLineBytes - queuedBytes - partialLine.size(), 0);
}

void HislipSession::takeText(const QByteArray &piece, quint32 messageId)
{
    qsizetype at = 0;
    while (at < piece.size()) {
        const qsizetype lineEnd = piece.indexOf('\n', at);
        const qsizetype stop = lineEnd < 0 ? piece.size() : lineEnd;
        if (!skippingLongLine)
            partialLine += piece.mid(at, stop - at);
        if (partialLine.size() >= kMaxLineBytes) {
            queueLine({}, messageId, true);
            partialLine.clear();
            skippingLongLine = true;
        }
        if (lineEnd < 0)
            return;
        if (!std::exchange(skippingLongLine, false))
            queueLine(std::exchange(partialLine, {}), messageId);
        at = lineEnd + 1;
    }
}

void HislipSession::queueLine(QByteArray text, quint32 messageId, bool tooLong)
{
    if (text.endsWith('\r'))
        text.chop(1);
    queuedBytes += text.size();
    lines.push_back({std::move(text), messageId, tooLong});
}

void HislipSession::runLines()
{
    // A line answered at once comes back here through answered().
    if (runningLines)
        return;
    const QScopedValueRollback<bool> running(runningLines, true);
    while (!lines.empty() && !interpreter->isBusy()
           && (ending || sync->unsentBytes() < kMaxUnsentBytes)) {
        Line line = std::move(lines.front());
        lines.pop_front();
        queuedBytes -= line.text.size();
        if (line.tooLong) {
            interpreter->reportError(
                    {ScpiErrorCode::TooMuchData,
                     QStringLiteral("a line is limited to %1 bytes").arg(kMaxLineBytes)});
            continue;
        }
        runningMessageId = line.messageId;
        interpreter->execute(line.text);
    }
    if (ending)
        return finishIfEnding();
    if (dataRoom() > 0)
        sync->resume();
    serviceLockWait();
}

void HislipSession::answered(const QByteArray &response)
{
    if (answersToDrop > 0)
        --answersToDrop;
    else if (!response.isEmpty() && !ending)
        sendAnswer(response + '\n');
    runLines();
}

void HislipSession::sendAnswer(const QByteArray &answer)
{
    // The client's limit counts the header; at least a byte goes in each piece.
    const auto pieceBytes = qsizetype(qBound<quint64>(
            1, clientMaxMessageBytes - qMin<quint64>(clientMaxMessageBytes, kHislipHeaderBytes),
            quint64(answer.size())));
    for (qsizetype at = 0; at < answer.size(); at += pieceBytes) {
        const bool last = at + pieceBytes >= answer.size();
        sync->send(last ? HislipType::DataEnd : HislipType::Data, 0, runningMessageId,
                   answer.mid(at, pieceBytes));
    }
    answerUnread = true;
}

int HislipSession::statusByte() const
{
    return interpreter->statusByte() | (answerUnread ? kMessageAvailable : 0);
}

// Answers and input not yet run are dropped; the error queue stays. Until
// DeviceClearComplete comes, what comes on the synchronous connection is
// dropped too.
void HislipSession::beginDeviceClear()
{
    clearing = true;
    lines.clear();
    queuedBytes = 0;
    partialLine.clear();
    skippingLongLine = false;
    answersToDrop = interpreter->isBusy() ? 1 : 0;
    answerUnread = false;
    sync->dropUnsentData();
    async->send(HislipType::AsyncDeviceClearAcknowledge, kSynchronizedMode, 0);
    sync->resume();
}

void HislipSession::setMaximumMessageSize(const QByteArray &payload)
{
    if (payload.size() != int(sizeof(quint64)))
        return async->send(HislipType::Error, quint8(HislipError::Unidentified), 0,
                           QByteArrayLiteral("a maximum message size takes 8 bytes"));
    clientMaxMessageBytes = qFromBigEndian<quint64>(payload.constData());
    QByteArray ours(sizeof(quint64), Qt::Uninitialized);
    qToBigEndian(kMaxMessageBytes, ours.data());
    async->send(HislipType::AsyncMaximumMessageSizeResponse, 0, 0, ours);
}

// A request (control code 1) waits up to its timeout for the lock: an
// empty lock string asks for it exclusively, another shares it with the
// holders of the same string. A release (0) waits until the synchronous
// connection has run the message it names, for at most
// kStalledConnectionMs. Later asynchronous messages wait meanwhile.
void HislipSession::lock(const HislipHeader &header, const QByteArray &payload)
{
    if (header.control > 1)
        return async->send(HislipType::Error, quint8(HislipError::UnknownControlCode), 0,
                           QByteArrayLiteral("AsyncLock takes 0 (release) or 1 (request)"));
    GeneratorLock &generatorLock = client.lock();
    LockWait wait;
    wait.release = header.control == 0;
    if (wait.release) {
        wait.messageId = header.parameter;
        wait.deadline.setRemainingTime(kStalledConnectionMs);
    } else {
        if (!payload.isEmpty())
            wait.sharedKey = QString::fromLatin1(payload);
        if (wait.sharedKey && generatorLock.holdsShared(client)
            && generatorLock.sharedKey() != *wait.sharedKey)
            return answerLock(HislipLockResult::Error);
        wait.deadline.setRemainingTime(qint64(header.parameter));
    }
    lockWait = wait;
    async->setHeld(true);
    serviceLockWait();
}

void HislipSession::serviceLockWait()
{
    if (!lockWait || ending)
        return;
    GeneratorLock &generatorLock = client.lock();
    if (lockWait->release) {
        const bool caughtUp = lines.empty() && !interpreter->isBusy()
                              && !isAfter(lockWait->messageId, lastMessageId);
        if (caughtUp || lockWait->deadline.hasExpired()) {
            lockWait.reset(); // releasing calls back here
            const bool exclusive = generatorLock.holdsExclusive(client);
            if (!generatorLock.release(client))
                return answerLock(HislipLockResult::Error);
            return answerLock(exclusive ? HislipLockResult::Granted
                                        : HislipLockResult::SharedReleased);
        }
    } else {
        const bool granted = lockWait->sharedKey
                                     ? generatorLock.takeShared(client, *lockWait->sharedKey)
                                     : generatorLock.take(client);
        if (granted)
            return answerLock(HislipLockResult::Granted);
        if (lockWait->deadline.hasExpired())
            return answerLock(HislipLockResult::Failed);
    }
    lockTimer->start(int(qMin<qint64>(lockWait->deadline.remainingTime(), INT_MAX)));
}

void HislipSession::answerLock(HislipLockResult result)
{
    lockWait.reset();
    lockTimer->stop();
    async->send(HislipType::AsyncLockResponse, quint8(result), 0);
    async->setHeld(false);
}

void HislipSession::lost(HislipChannel &channel, HislipChannel::Loss loss)
{
    if (loss == HislipChannel::Loss::BadHeader)
        return failBoth(HislipFatal::BadHeader,
                        QStringLiteral("the other connection sent a malformed header"));
    qCDebug(lcHislip).noquote() << client.name() << "lost its"
                                << (&channel == sync ? "synchronous" : "asynchronous")
                                << "connection";
    end();
}

void HislipSession::failBoth(HislipFatal code, const QString &text)
{
    lines.clear();
    for (HislipChannel *channel : {sync.data(), async.data()}) {
        if (channel)
            channel->fail(code, text);
    }
    end();
}

void HislipSession::end()
{
    if (std::exchange(ending, true))
        return;
    for (HislipChannel *channel : {sync.data(), async.data()}) {
        if (channel)
            channel->close();
    }
    lockTimer->stop();
    runLines();
}

// Gone once the lines received have run.
void HislipSession::finishIfEnding()
{
    if (lines.empty() && !interpreter->isBusy())
        deleteLater();
}
