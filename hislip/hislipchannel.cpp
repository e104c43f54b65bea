#include "hislip/hislipchannel.h"

#include "instrument/tcplistener.h"

#include <QScopedValueRollback>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcHislip, "kestrane.hislip")

namespace {

// Read at a time, and held while the receiver has no room.
constexpr qsizetype kMaxInputBytes = qsizetype{64} * 1024;
// What a connection that fails may still discard of its input, so that
// closing it does not reset it before its FatalError is out.
constexpr int kDrainReads = 64;

bool isData(const HislipHeader &header)
{
    return header.is(HislipType::Data) || header.is(HislipType::DataEnd);
}

} // namespace

HislipChannel::HislipChannel(int socket, Receiver *receiver, QObject *parent) :
    QObject(parent),
    socket(socket),
    peerName(peerAddress(socket)),
    receiver(receiver),
    readable(new QSocketNotifier(socket, QSocketNotifier::Read, this)),
    writable(new QSocketNotifier(socket, QSocketNotifier::Write, this)),
    stallTimer(new QTimer(this))
{
    writable->setEnabled(false);
    stallTimer->setSingleShot(true);
    stallTimer->setInterval(kStalledConnectionMs);
    connect(readable, &QSocketNotifier::activated, this, &HislipChannel::readInput);
    connect(writable, &QSocketNotifier::activated, this, &HislipChannel::writeOutput);
    connect(stallTimer, &QTimer::timeout, this, &HislipChannel::stalled);
}

HislipChannel::~HislipChannel()
{
    readable->setEnabled(false);
    writable->setEnabled(false);
    ::close(socket);
}

void HislipChannel::setAwaitingClient(bool awaiting)
{
    awaitingClient = awaiting;
    watchForStall(false);
}

void HislipChannel::setHeld(bool hold)
{
    held = hold;
    if (!held)
        resume();
    watchForStall(false);
}

void HislipChannel::resume()
{
    QMetaObject::invokeMethod(this, &HislipChannel::parse, Qt::QueuedConnection);
}

void HislipChannel::readInput()
{
    const SocketInput received = receiveAvailable(socket, kMaxInputBytes - input.size());
    input += received.bytes;
    parse();
    watchForStall(!received.bytes.isEmpty());
    if (!received.open && !closed)
        lose(Loss::Closed);
}

void HislipChannel::parse()
{
    // A receiver's answer may resume the channel from within.
    if (parsing)
        return;
    const QScopedValueRollback<bool> guard(parsing, true);
    waitingForRoom = false;
    while (!closed && !held) {
        if (!current) {
            if (input.size() < kHislipHeaderBytes)
                break;
            current = decodeHislipHeader(input.constData());
            if (!current) {
                fail(HislipFatal::BadHeader, QStringLiteral("a message begins with \"HS\""));
                return receiver->lost(*this, Loss::BadHeader);
            }
            input.remove(0, kHislipHeaderBytes);
            payloadLeft = current->payloadLength;
            if (isData(*current)) {
                const HislipHeader header = *current;
                if (payloadLeft == 0)
                    current.reset();
                receiver->receiveData(*this, header, {}, true, payloadLeft == 0);
                continue;
            }
        }
        if (isData(*current)) {
            if (!handOnData())
                break;
            continue;
        }
        const auto available = qsizetype(qMin<quint64>(payloadLeft, quint64(input.size())));
        if (current->payloadLength <= quint64(kMaxControlPayloadBytes))
            payload += input.left(available);
        input.remove(0, available);
        payloadLeft -= quint64(available);
        if (payloadLeft > 0)
            break;
        const HislipHeader header = *std::exchange(current, std::nullopt);
        receiver->receive(*this, header, std::exchange(payload, {}));
    }
    if (!closed)
        readable->setEnabled(input.size() < kMaxInputBytes);
    watchForStall(false);
}

// Hands on as much of the data payload as has come and the receiver takes;
// false when it has to wait for either.
bool HislipChannel::handOnData()
{
    const auto available = qsizetype(qMin<quint64>(payloadLeft, quint64(input.size())));
    const qsizetype taken = qMin(available, receiver->dataRoom());
    if (taken <= 0) {
        waitingForRoom = available > 0;
        return false;
    }
    const QByteArray piece = input.left(taken);
    input.remove(0, taken);
    payloadLeft -= quint64(taken);
    const HislipHeader header = *current;
    if (payloadLeft == 0)
        current.reset();
    receiver->receiveData(*this, header, piece, false, payloadLeft == 0);
    return true;
}

void HislipChannel::send(HislipType type, quint8 control, quint32 parameter,
                         const QByteArray &payload)
{
    if (closed)
        return;
    output.push_back(hislipMessage(type, control, parameter, payload));
    unsent += output.back().size();
    writeOutput();
}

void HislipChannel::writeOutput()
{
    bool wrote = false;
    while (!output.empty() && !closed) {
        const QByteArray &first = output.front();
        const std::optional<qsizetype> count
                = sendAvailable(socket, QByteArray::fromRawData(first.constData() + sentOfFirst,
                                                                first.size() - sentOfFirst));
        if (!count)
            return lose(Loss::Closed);
        if (*count == 0)
            break;
        wrote = true;
        sentOfFirst += *count;
        unsent -= *count;
        if (sentOfFirst == first.size()) {
            output.pop_front();
            sentOfFirst = 0;
        }
    }
    writable->setEnabled(!output.empty() && !closed);
    if (wrote)
        emit sent();
}

void HislipChannel::dropUnsentData()
{
    // One begun goes out whole: the client's framing depends on it.
    for (auto message = output.begin() + (sentOfFirst > 0 ? 1 : 0); message != output.end();) {
        const auto type = HislipType(message->at(2));
        if (type == HislipType::Data || type == HislipType::DataEnd) {
            unsent -= message->size();
            message = output.erase(message);
        } else {
            ++message;
        }
    }
}

void HislipChannel::fail(HislipFatal code, const QString &text)
{
    if (closed)
        return;
    qCDebug(lcHislip).noquote() << "fatal error" << int(code) << "to" << peerName << "-" << text;
    send(HislipType::FatalError, quint8(code), 0, text.toUtf8());
    // Input left unread would make closing reset the connection and lose
    // the FatalError on its way.
    char sink[4096];
    for (int read = 0; read<kDrainReads && ::recv(socket, sink, sizeof sink, MSG_DONTWAIT)> 0;
         ++read) {
    }
    ::shutdown(socket, SHUT_WR);
    close();
}

void HislipChannel::close()
{
    if (closed)
        return;
    closed = true;
    readable->setEnabled(false);
    writable->setEnabled(false);
    stallTimer->stop();
    deleteLater();
}

// Times the client while part of a message, or the first message awaited,
// has not come; progress starts the time again.
void HislipChannel::watchForStall(bool progressed)
{
    const bool waiting = !closed && !held && !waitingForRoom
                         && (awaitingClient || current || !input.isEmpty());
    if (!waiting)
        stallTimer->stop();
    else if (progressed || !stallTimer->isActive())
        stallTimer->start();
}

void HislipChannel::stalled()
{
    qCDebug(lcHislip).noquote() << peerName << "sent nothing more for" << kStalledConnectionMs
                                << "ms; closing";
    lose(Loss::Stalled);
}

void HislipChannel::lose(Loss loss)
{
    close();
    receiver->lost(*this, loss);
}
