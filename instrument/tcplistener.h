#ifndef TCPLISTENER_H
#define TCPLISTENER_H

#include "common/result.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

#include <functional>
#include <optional>

class QSocketNotifier;
class QTimer;

// A listening TCP socket that hands each accepted connection's descriptor
// on. When the process runs out of descriptors it stops accepting, and
// starts again on resume() or after a second; the clients meanwhile wait in
// the listen queue. (QTcpServer, after its first empty accept, takes every
// later failure for a passing one and spins.)
class TcpListener : public QObject
{
    Q_OBJECT

public:
    using Accepted = std::function<void(int socket)>;

    explicit TcpListener(Accepted accepted, QObject *parent = nullptr);
    ~TcpListener() override;

    // Fails saying where ("cannot listen on 127.0.0.1 port 5025: ...").
    Result<void> listen(const QHostAddress &address, quint16 port);
    // The port listened on, once listening (the one chosen for port 0).
    quint16 port() const;
    // The listening socket, still owned by the listener; -1 before listen().
    int socketDescriptor() const { return socket; }
    // Accepts again, for when a descriptor has been freed.
    void resume();

private:
    void acceptPending();

    Accepted accepted;
    int socket = -1;
    QSocketNotifier *notifier = nullptr;
    QTimer *retryTimer;
    bool outOfDescriptors = false;
};

// How long a client's connection may hold part of a message (an RPC
// record, a HiSLIP message), or wait to begin its conversation, with nothing
// more arriving before it is closed, whatever its protocol: a stalled or
// half-open connection must not keep its place from other clients.
constexpr int kStalledConnectionMs = 5000;

// The peer of a connected socket, "127.0.0.1:51234", for people.
QString peerAddress(int socket);

// What a non-blocking socket holds now, at most `most` bytes of it; `open`
// is false once the peer has closed its sending side or the connection is
// gone, and `failed` tells the two apart.
struct SocketInput
{
    QByteArray bytes;
    bool open = true;
    bool failed = false;
};
SocketInput receiveAvailable(int socket, qsizetype most);

// Sends what a non-blocking socket takes now, without SIGPIPE for a peer
// that left: the count sent (0 when it would block), or nothing once the
// connection is gone.
std::optional<qsizetype> sendAvailable(int socket, const QByteArray &bytes);

#endif // TCPLISTENER_H
