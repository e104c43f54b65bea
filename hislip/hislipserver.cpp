#include "hislip/hislipserver.h"

#include "hislip/hislipsession.h"
#include "instrument/clientslots.h"
#include "instrument/tcplistener.h"

#include <unistd.h>

namespace {

// Who answers, as AsyncInitializeResponse tells: two letters.
constexpr quint32 kVendorId = quint32('K') << 8 | quint32('E');
const QString kSubAddress = QStringLiteral("hislip0");

// "127.0.0.1" of "127.0.0.1:40112".
QString hostOf(const QString &peer)
{
    return peer.left(peer.lastIndexOf(u':'));
}

} // namespace

HislipServer::HislipServer(GeneratorSession &session, GeneratorLock &lock, ClientSlots &clients,
                           QObject *parent) :
    QObject(parent),
    session(session),
    lock(lock),
    clients(clients),
    listener(new TcpListener([this](int socket) { accept(socket); }, this))
{
    connect(&clients, &ClientSlots::freed, listener, &TcpListener::resume);
}

HislipServer::~HislipServer() = default;

Result<void> HislipServer::listen(const QHostAddress &address, quint16 port)
{
    return listener->listen(address, port);
}

quint16 HislipServer::port() const
{
    return listener->port();
}

void HislipServer::accept(int socket)
{
    if (arriving.size() >= clients.limit()) {
        const QByteArray refusal
                = hislipMessage(HislipType::FatalError, quint8(HislipFatal::TooManyClients), 0,
                                "too many connections on their way to a session");
        [[maybe_unused]] const std::optional<qsizetype> sent = sendAvailable(socket, refusal);
        ::close(socket);
        return;
    }
    auto *channel = new HislipChannel(socket, this, this);
    arriving.insert(channel);
    connect(channel, &QObject::destroyed, this, [this, channel] {
        arriving.remove(channel);
        listener->resume();
    });
    channel->setAwaitingClient(true);
}

void HislipServer::receive(HislipChannel &channel, const HislipHeader &header,
                           const QByteArray &payload)
{
    if (header.is(HislipType::Initialize))
        return initialize(channel, header, payload);
    if (header.is(HislipType::AsyncInitialize))
        return joinSession(channel, header);
    refuse(channel, HislipFatal::InvalidInitialization,
           QStringLiteral("a connection begins with Initialize or AsyncInitialize"));
}

void HislipServer::receiveData(HislipChannel &channel, const HislipHeader &header,
                               const QByteArray &, bool, bool)
{
    receive(channel, header, {});
}

void HislipServer::lost(HislipChannel &channel, HislipChannel::Loss)
{
    arriving.remove(&channel);
}

void HislipServer::initialize(HislipChannel &channel, const HislipHeader &header,
                              const QByteArray &payload)
{
    const QString subAddress = QString::fromLatin1(payload);
    if (header.payloadLength > quint64(HislipChannel::kMaxControlPayloadBytes)
        || (!subAddress.isEmpty() && subAddress.compare(kSubAddress, Qt::CaseInsensitive) != 0))
        return refuse(
                channel, HislipFatal::InvalidInitialization,
                QStringLiteral("no device \"%1\" here, only %2").arg(subAddress, kSubAddress));
    if (!clients.take())
        return refuse(channel, HislipFatal::TooManyClients,
                      QStringLiteral("too many clients (at most %1)").arg(clients.limit()));
    const quint16 id = freeSessionId();
    const QString name = QStringLiteral("HiSLIP %1 session %2").arg(channel.peer()).arg(id);
    arriving.remove(&channel);
    auto *created = new HislipSession(id, &channel, session, lock, name, this);
    sessions.insert(id, created);
    connect(created, &QObject::destroyed, this, [this, id] {
        sessions.remove(id);
        clients.give();
    });
    // The lower of the two versions; synchronized mode.
    const quint16 version = qMin<quint16>(quint16(header.parameter >> 16), kHislipVersion);
    channel.send(HislipType::InitializeResponse, 0, quint32(version) << 16 | id);
    channel.setAwaitingClient(true); // its asynchronous connection
}

void HislipServer::joinSession(HislipChannel &channel, const HislipHeader &header)
{
    HislipSession *joined
            = header.parameter <= 0xffff ? sessions.value(quint16(header.parameter)) : nullptr;
    if (!joined || joined->hasAsynchronous() || hostOf(joined->peer()) != hostOf(channel.peer()))
        return refuse(channel, HislipFatal::InvalidInitialization,
                      QStringLiteral("no session %1 waits for its asynchronous connection here")
                              .arg(header.parameter));
    arriving.remove(&channel);
    channel.send(HislipType::AsyncInitializeResponse, 0, kVendorId);
    joined->joinAsynchronous(&channel);
}

void HislipServer::refuse(HislipChannel &channel, HislipFatal code, const QString &text)
{
    arriving.remove(&channel);
    channel.fail(code, text);
}

quint16 HislipServer::freeSessionId()
{
    do {
        ++lastSessionId;
    } while (lastSessionId == 0 || sessions.contains(lastSessionId));
    return lastSessionId;
}

QString hislipDeviceName(quint16 port)
{
    return port == kHislipPort ? kSubAddress : QStringLiteral("%1,%2").arg(kSubAddress).arg(port);
}
