#ifndef RPCCONNECTION_H
#define RPCCONNECTION_H

#include <QByteArray>
#include <QObject>

#include <functional>
#include <optional>

#include <rpc/rpc.h>

class QSocketNotifier;
class QTimer;

// One TCP connection carrying ONC RPC calls to one program and version, in
// records as RFC 5531 frames them. One call at a time is handed on and
// answered, maybe much later; the next waits meanwhile, no more than two
// records' worth of it held here and the rest in the socket. A record larger
// than kMaxRecordBytes, a call that cannot be decoded or a peer that leaves,
// even in the middle of a call, ends the connection, and so does one that
// stalls: part of a record, or no first call, with nothing more arriving
// for kStalledConnectionMs.
class RpcConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype kMaxRecordBytes = 16 * 1024;

    // The procedure called, with its arguments' XDR stream; answered with
    // reply() or refuse*() on this connection.
    using Serve = std::function<void(RpcConnection &connection, quint32 procedure, XDR &arguments)>;

    // Takes the socket descriptor over; deletes itself once done with it.
    RpcConnection(int socket, quint32 program, quint32 version, Serve serve,
                  QObject *parent = nullptr);
    ~RpcConnection() override;

    // Answers the call being served with results XDR-encoded by `encode`.
    void reply(xdrproc_t encode, const void *results);
    void refuseProcedure();
    void refuseArguments();
    const QString &peer() const { return peerName; }

private:
    void readInput();
    std::optional<QByteArray> takeRecord();
    void serve(const QByteArray &record);
    void send(rpc_msg &message, qsizetype sizeHint);
    void writeOutput();
    void takeNextCall();
    void watchForStall(bool progressed);
    void close();

    int socket;
    const quint32 program;
    const quint32 version;
    const Serve serveCall;
    const QString peerName;
    QSocketNotifier *readable;
    QSocketNotifier *writable;
    QTimer *stallTimer;
    QByteArray input;
    QByteArray output;
    quint32 callXid = 0;
    bool answering = false; // a call is being served
    bool called = false;    // a first call came
    bool closing = false;
};

#endif // RPCCONNECTION_H
