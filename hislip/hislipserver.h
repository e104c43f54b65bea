#ifndef HISLIPSERVER_H
#define HISLIPSERVER_H

#include "common/result.h"
#include "hislip/hislipchannel.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QSet>

class ClientSlots;
class GeneratorLock;
class GeneratorSession;
class HislipSession;
class TcpListener;

// HiSLIP for the daemon, versions 1.0 and 1.1: VISA's
// TCPIP::host::hislip0::INSTR. A new connection becomes a session's
// synchronous connection with Initialize, taking a client slot as a raw
// socket does (none free: FatalError 4), or a session's asynchronous one
// with AsyncInitialize naming a session of the same host that has none yet;
// anything else first, or another sub-address than "hislip0", is fatal. At
// most as many connections as there are client slots may be on their way
// at once, each for at most kStalledConnectionMs, and so may a session
// waiting for its asynchronous connection.
class HislipServer : public QObject, private HislipChannel::Receiver
{
    Q_OBJECT

public:
    HislipServer(GeneratorSession &session, GeneratorLock &lock, ClientSlots &clients,
                 QObject *parent = nullptr);
    ~HislipServer() override;

    Result<void> listen(const QHostAddress &address, quint16 port);
    quint16 port() const;

private:
    void accept(int socket);
    void receive(HislipChannel &channel, const HislipHeader &header,
                 const QByteArray &payload) override;
    void receiveData(HislipChannel &channel, const HislipHeader &header, const QByteArray &piece,
                     bool first, bool last) override;
    qsizetype dataRoom() const override { return 0; }
    void lost(HislipChannel &channel, HislipChannel::Loss loss) override;
    void initialize(HislipChannel &channel, const HislipHeader &header, const QByteArray &payload);
    void joinSession(HislipChannel &channel, const HislipHeader &header);
    void refuse(HislipChannel &channel, HislipFatal code, const QString &text);
    quint16 freeSessionId();

    GeneratorSession &session;
    GeneratorLock &lock;
    ClientSlots &clients;
    TcpListener *listener;
    QSet<HislipChannel *> arriving; // not yet part of a session
    QHash<quint16, HislipSession *> sessions;
    quint16 lastSessionId = 0;
};

// The device part of a resource string for HiSLIP on `port`: "hislip0", or
// "hislip0,4881" on another port than kHislipPort.
QString hislipDeviceName(quint16 port);

#endif // HISLIPSERVER_H
