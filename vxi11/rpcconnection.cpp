#include "vxi11/rpcconnection.h"

#include "instrument/tcplistener.h"

#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>
#include <QtEndian>

#include <unistd.h>

Q_LOGGING_CATEGORY(lcRpc, "kestrane.rpc")

namespace {

constexpr quint32 kLastFragment = 0x80000000u;
constexpr qsizetype kFragmentHeaderBytes = 4;
constexpr quint32 kRpcVersion = 2;
// A record's fragments may each bring a header.
constexpr qsizetype kMaxInputBytes = 2 * RpcConnection::kMaxRecordBytes;

} // namespace

RpcConnection::RpcConnection(int socket, quint32 program, quint32 version, Serve serve,
                             QObject *parent) :
    QObject(parent),
    socket(socket),
    program(program),
    version(version),
    serveCall(std::move(serve)),
    peerName(peerAddress(socket)),
    readable(new QSocketNotifier(socket, QSocketNotifier::Read, this)),
    writable(new QSocketNotifier(socket, QSocketNotifier::Write, this)),
    stallTimer(new QTimer(this))
{
    writable->setEnabled(false);
    stallTimer->setSingleShot(true);
    stallTimer->setInterval(kStalledConnectionMs);
    connect(readable, &QSocketNotifier::activated, this, &RpcConnection::readInput);
    connect(writable, &QSocketNotifier::activated, this, &RpcConnection::writeOutput);
    connect(stallTimer, &QTimer::timeout, this, [this] {
        qCDebug(lcRpc).noquote() << peerName << "sent nothing more for" << kStalledConnectionMs
                                 << "ms; closing";
        close();
    });
    watchForStall(false);
}

RpcConnection::~RpcConnection()
{
    readable->setEnabled(false);
    writable->setEnabled(false);
    ::close(socket);
}

void RpcConnection::readInput()
{
    const SocketInput received = receiveAvailable(socket, kMaxInputBytes - input.size());
    if (!received.open)
        return close();
    input += received.bytes;
    watchForStall(true);
    // While a call is served the next ones wait here, and the socket is still
    // watched: a client that leaves in the middle of a call is gone at once.
    if (answering) {
        readable->setEnabled(input.size() < kMaxInputBytes);
        return;
    }
    if (const std::optional<QByteArray> record = takeRecord())
        return serve(*record);
    if (input.size() >= kMaxInputBytes) {
        qCWarning(lcRpc).noquote()
                << peerName << "sent a call larger than" << kMaxRecordBytes << "bytes; closing";
        close();
    }
}

// The first whole record of the input, its fragments joined, taken from it.
std::optional<QByteArray> RpcConnection::takeRecord()
{
    QByteArray record;
    qsizetype at = 0;
    while (input.size() - at >= kFragmentHeaderBytes) {
        const auto header = qFromBigEndian<quint32>(input.constData() + at);
        const auto length = qsizetype(header & ~kLastFragment);
        if (record.size() + length > kMaxRecordBytes) {
            input.resize(kMaxInputBytes); // closes the connection
            return std::nullopt;
        }
        if (input.size() - at - kFragmentHeaderBytes < length)
            return std::nullopt;
        record += input.mid(at + kFragmentHeaderBytes, length);
        at += kFragmentHeaderBytes + length;
        if (header & kLastFragment) {
            input.remove(0, at);
            return record;
        }
    }
    return std::nullopt;
}

void RpcConnection::serve(const QByteArray &record)
{
    rpc_msg call{};
    char credentials[MAX_AUTH_BYTES];
    char verifier[MAX_AUTH_BYTES];
    call.rm_call.cb_cred.oa_base = credentials;
    call.rm_call.cb_verf.oa_base = verifier;
    QByteArray bytes = record;
    XDR xdr;
    xdrmem_create(&xdr, bytes.data(), u_int(bytes.size()), XDR_DECODE);
    const bool decoded = xdr_callmsg(&xdr, &call) && call.rm_direction == CALL;
    if (!decoded || call.rm_call.cb_rpcvers != kRpcVersion) {
        qCWarning(lcRpc).noquote() << peerName << "sent something that is no RPC call; closing";
        xdr_destroy(&xdr);
        return close();
    }
    callXid = quint32(call.rm_xid);
    answering = true;
    called = true;
    watchForStall(false);
    if (call.rm_call.cb_prog != program) {
        rpc_msg message{};
        message.rm_reply.rp_stat = MSG_ACCEPTED;
        message.acpted_rply.ar_stat = PROG_UNAVAIL;
        send(message, 0);
    } else if (call.rm_call.cb_vers != version) {
        rpc_msg message{};
        message.rm_reply.rp_stat = MSG_ACCEPTED;
        message.acpted_rply.ar_stat = PROG_MISMATCH;
        message.acpted_rply.ar_vers.low = version;
        message.acpted_rply.ar_vers.high = version;
        send(message, 0);
    } else {
        serveCall(*this, quint32(call.rm_call.cb_proc), xdr);
    }
    xdr_destroy(&xdr);
}

void RpcConnection::reply(xdrproc_t encode, const void *results)
{
    rpc_msg message{};
    message.rm_reply.rp_stat = MSG_ACCEPTED;
    message.acpted_rply.ar_stat = SUCCESS;
    message.acpted_rply.ar_results.where = static_cast<caddr_t>(const_cast<void *>(results));
    message.acpted_rply.ar_results.proc = encode;
    send(message, qsizetype(xdr_sizeof(encode, const_cast<void *>(results))));
}

void RpcConnection::refuseProcedure()
{
    rpc_msg message{};
    message.rm_reply.rp_stat = MSG_ACCEPTED;
    message.acpted_rply.ar_stat = PROC_UNAVAIL;
    send(message, 0);
}

void RpcConnection::refuseArguments()
{
    rpc_msg message{};
    message.rm_reply.rp_stat = MSG_ACCEPTED;
    message.acpted_rply.ar_stat = GARBAGE_ARGS;
    send(message, 0);
}

// Sends the reply to the call being served, then takes the next call.
void RpcConnection::send(rpc_msg &message, qsizetype sizeHint)
{
    if (!answering)
        return;
    answering = false;
    message.rm_xid = callXid;
    message.rm_direction = REPLY;
    message.acpted_rply.ar_verf = _null_auth;
    // The reply header is a few dozen bytes; the results bring their own size.
    QByteArray record(kFragmentHeaderBytes + 64 + sizeHint, Qt::Uninitialized);
    XDR xdr;
    xdrmem_create(&xdr, record.data() + kFragmentHeaderBytes,
                  u_int(record.size() - kFragmentHeaderBytes), XDR_ENCODE);
    const bool encoded = xdr_replymsg(&xdr, &message);
    const auto length = quint32(xdr_getpos(&xdr));
    xdr_destroy(&xdr);
    if (!encoded) {
        qCWarning(lcRpc).noquote() << "cannot encode a reply to" << peerName << "; closing";
        return close();
    }
    qToBigEndian(length | kLastFragment, record.data());
    record.resize(kFragmentHeaderBytes + length);
    output += record;
    writeOutput();
}

void RpcConnection::writeOutput()
{
    while (!output.isEmpty()) {
        const std::optional<qsizetype> sent = sendAvailable(socket, output);
        if (!sent)
            return close();
        if (*sent == 0)
            break;
        output.remove(0, *sent);
    }
    writable->setEnabled(!output.isEmpty());
    // The next call once this reply is out: a client that does not read its
    // replies gets no more served.
    if (output.isEmpty() && !answering)
        QMetaObject::invokeMethod(this, &RpcConnection::takeNextCall, Qt::QueuedConnection);
}

void RpcConnection::takeNextCall()
{
    if (answering || closing || !output.isEmpty())
        return;
    if (const std::optional<QByteArray> record = takeRecord())
        return serve(*record);
    if (input.size() >= kMaxInputBytes)
        return close();
    readable->setEnabled(true);
    watchForStall(false);
}

// Times the client while it owes the rest of a record, or its first call;
// progress starts the time again. Time spent serving or answering never
// counts.
void RpcConnection::watchForStall(bool progressed)
{
    const bool waiting
            = !answering && !closing && output.isEmpty() && (!called || !input.isEmpty());
    if (!waiting)
        stallTimer->stop();
    else if (progressed || !stallTimer->isActive())
        stallTimer->start();
}

void RpcConnection::close()
{
    closing = true;
    readable->setEnabled(false);
    writable->setEnabled(false);
    stallTimer->stop();
    answering = false;
    deleteLater();
}
