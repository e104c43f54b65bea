#include "vxi11/vxi11server.h"

#include "vxi11/portmapper.h"
#include "vxi11/rpcconnection.h"
#include "vxi11/vxi11.h"
#include "vxi11/vxi11link.h"

#include "instrument/clientslots.h"
#include "instrument/tcplistener.h"

#include <climits>
#include <unistd.h>

namespace {

// Flags of device_write and device_read. The waitlock flag goes unread: a
// call waits up to its lock_timeout for the lock whatever it says, as VISA
// clients (pyvisa-py among them, which never sets it) expect.
constexpr long kEndOfMessage = 0x08;
constexpr long kTermCharSet = 0x80;

enum Procedure : quint32 {
    // Every RPC program answers it, empty: a client's way to see that a server lives.
    Null = 0,
    CreateLink = create_link,
    DeviceWrite = device_write,
    DeviceRead = device_read,
    DeviceReadStb = device_readstb,
    DeviceTrigger = device_trigger,
    DeviceClear = device_clear,
    DeviceRemote = device_remote,
    DeviceLocal = device_local,
    DeviceLock = device_lock,
    DeviceUnlock = device_unlock,
    DeviceEnableSrq = device_enable_srq,
    DeviceDocmd = device_docmd,
    DestroyLink = destroy_link,
    CreateInterruptChannel = create_intr_chan,
    DestroyInterruptChannel = destroy_intr_chan,
};

// A call's arguments, decoded; whatever XDR allocated for them goes with it.
template<typename T>
class Arguments
{
public:
    Arguments(XDR &xdr, bool_t (*decode)(XDR *, T *)) :
        decode(decode),
        decoded(decode(&xdr, &value))
    {}
    ~Arguments() { xdr_free(xdrproc_t(decode), reinterpret_cast<char *>(&value)); }
    Arguments(const Arguments &) = delete;
    Arguments &operator=(const Arguments &) = delete;

    explicit operator bool() const { return decoded; }
    const T &operator*() const { return value; }
    const T *operator->() const { return &value; }

private:
    bool_t (*decode)(XDR *, T *);
    T value{};
    bool decoded;
};

// The null procedure's results: nothing (libtirpc's xdr_void takes no arguments).
bool_t encodeNothing(XDR *, void *)
{
    return TRUE;
}

int milliseconds(u_long value)
{
    return int(qMin<u_long>(value, INT_MAX));
}

void replyError(RpcConnection &connection, Vxi11Error error)
{
    const Device_Error result{long(error)};
    connection.reply(xdrproc_t(xdr_Device_Error), &result);
}

} // namespace

Vxi11Server::Vxi11Server(GeneratorSession &session, GeneratorLock &lock, ClientSlots &clients,
                         QObject *parent) :
    QObject(parent),
    session(session),
    lock(lock),
    clients(clients),
    listener(new TcpListener([this](int socket) { accept(socket); }, this))
{
    connect(&clients, &ClientSlots::freed, listener, &TcpListener::resume);
}

Vxi11Server::~Vxi11Server() = default;

Result<void> Vxi11Server::listen(const QHostAddress &address)
{
    if (Result<void> listening = listener->listen(address, 0); !listening)
        return listening;
    Result<std::unique_ptr<PortmapperRegistration>> registered
            = PortmapperRegistration::make(DEVICE_CORE, DEVICE_CORE_VERSION, listener->port());
    if (!registered)
        return Failure{registered.error()};
    registration = std::move(registered.value());
    return {};
}

quint16 Vxi11Server::port() const
{
    return listener->port();
}

void Vxi11Server::accept(int socket)
{
    // Links count as clients; the connections that carry them are bounded too.
    if (connections >= clients.limit()) {
        ::close(socket);
        return;
    }
    ++connections;
    auto *connection = new RpcConnection(
            socket, DEVICE_CORE, DEVICE_CORE_VERSION,
            [this](RpcConnection &caller, quint32 procedure, XDR &arguments) {
                serve(caller, procedure, arguments);
            },
            this);
    connect(connection, &QObject::destroyed, this, [this] {
        --connections;
        listener->resume();
    });
}

// A link is its own connection's: no client reaches another's.
Vxi11Link *Vxi11Server::link(long id, const RpcConnection &connection) const
{
    Vxi11Link *found = links.value(id);
    return found && found->parent() == &connection ? found : nullptr;
}

void Vxi11Server::serve(RpcConnection &connection, quint32 procedure, XDR &arguments)
{
    switch (procedure) {
    case Null:
        return connection.reply(xdrproc_t(encodeNothing), nullptr);
    case CreateLink:
        return createLink(connection, arguments);
    case DestroyLink:
        return destroyLink(connection, arguments);
    case DeviceWrite:
        return write(connection, arguments);
    case DeviceRead:
        return read(connection, arguments);
    case DeviceLock:
        return lockLink(connection, arguments);
    case DeviceUnlock:
        return unlockLink(connection, arguments);
    case DeviceReadStb:
    case DeviceClear:
    case DeviceRemote:
    case DeviceLocal:
        return serveGeneric(connection, procedure, arguments);
    case DeviceDocmd: {
        const Device_DocmdResp result{long(Vxi11Error::NotSupported), {0, nullptr}};
        return connection.reply(xdrproc_t(xdr_Device_DocmdResp), &result);
    }
    case DeviceTrigger:
    case DeviceEnableSrq:
    case CreateInterruptChannel:
    case DestroyInterruptChannel:
        return replyError(connection, Vxi11Error::NotSupported);
    default:
        return connection.refuseProcedure();
    }
}

void Vxi11Server::createLink(RpcConnection &connection, XDR &arguments)
{
    const Arguments<Create_LinkParms> parameters(arguments, xdr_Create_LinkParms);
    if (!parameters)
        return connection.refuseArguments();
    const auto answer = [](RpcConnection &caller, Vxi11Error error, long id) {
        const Create_LinkResp result{long(error), id, 0, kMaxReceiveBytes};
        caller.reply(xdrproc_t(xdr_Create_LinkResp), &result);
    };
    const QString device = QString::fromUtf8(parameters->device).toLower();
    if (!device.isEmpty() && device != QLatin1String("inst0"))
        return answer(connection, Vxi11Error::DeviceNotAccessible, 0);
    if (!clients.take())
        return answer(connection, Vxi11Error::OutOfResources, 0);
    const long id = ++lastLinkId;
    auto *created = new Vxi11Link(
            session, lock, QStringLiteral("VXI-11 %1 link %2").arg(connection.peer()).arg(id),
            &connection);
    links.insert(id, created);
    connect(created, &QObject::destroyed, this, [this, id] {
        links.remove(id);
        clients.give();
    });
    if (!parameters->lockDevice)
        return answer(connection, Vxi11Error::None, id);
    created->lock(
            milliseconds(parameters->lock_timeout),
            [answer, caller = QPointer<RpcConnection>(&connection), created, id](Vxi11Error error) {
                if (error != Vxi11Error::None)
                    created->deleteLater();
                if (caller)
                    answer(*caller, error, error == Vxi11Error::None ? id : 0);
            });
}

void Vxi11Server::destroyLink(RpcConnection &connection, XDR &arguments)
{
    const Arguments<Device_Link> id(arguments, xdr_Device_Link);
    if (!id)
        return connection.refuseArguments();
    Vxi11Link *destroyed = link(*id, connection);
    if (!destroyed)
        return replyError(connection, Vxi11Error::InvalidLink);
    delete destroyed;
    replyError(connection, Vxi11Error::None);
}

void Vxi11Server::write(RpcConnection &connection, XDR &arguments)
{
    const Arguments<Device_WriteParms> parameters(arguments, xdr_Device_WriteParms);
    if (!parameters)
        return connection.refuseArguments();
    const auto answer = [](RpcConnection &caller, Vxi11Error error, u_long size) {
        const Device_WriteResp result{long(error), error == Vxi11Error::None ? size : 0};
        caller.reply(xdrproc_t(xdr_Device_WriteResp), &result);
    };
    Vxi11Link *target = link(parameters->lid, connection);
    if (!target)
        return answer(connection, Vxi11Error::InvalidLink, 0);
    if (parameters->data.data_len > kMaxReceiveBytes)
        return answer(connection, Vxi11Error::ParameterError, 0);
    const QByteArray data(parameters->data.data_val, qsizetype(parameters->data.data_len));
    target->write(data, parameters->flags & kEndOfMessage, milliseconds(parameters->lock_timeout),
                  milliseconds(parameters->io_timeout),
                  [answer, caller = QPointer<RpcConnection>(&connection),
                   size = parameters->data.data_len](Vxi11Error error) {
                      if (caller)
                          answer(*caller, error, size);
                  });
}

void Vxi11Server::read(RpcConnection &connection, XDR &arguments)
{
    const Arguments<Device_ReadParms> parameters(arguments, xdr_Device_ReadParms);
    if (!parameters)
        return connection.refuseArguments();
    const auto answer = [](RpcConnection &caller, Vxi11Error error, long reason,
                           const QByteArray &data) {
        const Device_ReadResp result{
                long(error), reason, {u_int(data.size()), const_cast<char *>(data.constData())}};
        caller.reply(xdrproc_t(xdr_Device_ReadResp), &result);
    };
    Vxi11Link *target = link(parameters->lid, connection);
    if (!target)
        return answer(connection, Vxi11Error::InvalidLink, 0, {});
    const std::optional<char> termChar = parameters->flags & kTermCharSet
                                                 ? std::optional<char>(parameters->termChar)
                                                 : std::nullopt;
    const auto requestSize = qsizetype(qMin<u_long>(parameters->requestSize, INT_MAX));
    target->read(requestSize, termChar, milliseconds(parameters->io_timeout),
                 [answer, caller = QPointer<RpcConnection>(&connection)](
                         Vxi11Error error, long reason, const QByteArray &data) {
                     if (caller)
                         answer(*caller, error, reason, data);
                 });
}

void Vxi11Server::serveGeneric(RpcConnection &connection, quint32 procedure, XDR &arguments)
{
    const Arguments<Device_GenericParms> parameters(arguments, xdr_Device_GenericParms);
    if (!parameters)
        return connection.refuseArguments();
    Vxi11Link *target = link(parameters->lid, connection);
    if (procedure == DeviceReadStb) {
        const Device_ReadStbResp result{long(target ? Vxi11Error::None : Vxi11Error::InvalidLink),
                                        u_char(target ? target->statusByte() : 0)};
        return connection.reply(xdrproc_t(xdr_Device_ReadStbResp), &result);
    }
    if (!target)
        return replyError(connection, Vxi11Error::InvalidLink);
    if (procedure == DeviceClear)
        target->clear();
    // Remote and local: the generator has no front panel to lock out.
    replyError(connection, Vxi11Error::None);
}

void Vxi11Server::lockLink(RpcConnection &connection, XDR &arguments)
{
    const Arguments<Device_LockParms> parameters(arguments, xdr_Device_LockParms);
    if (!parameters)
        return connection.refuseArguments();
    Vxi11Link *target = link(parameters->lid, connection);
    if (!target)
        return replyError(connection, Vxi11Error::InvalidLink);
    target->lock(milliseconds(parameters->lock_timeout),
                 [caller = QPointer<RpcConnection>(&connection)](Vxi11Error error) {
                     if (caller)
                         replyError(*caller, error);
                 });
}

void Vxi11Server::unlockLink(RpcConnection &connection, XDR &arguments)
{
    const Arguments<Device_Link> id(arguments, xdr_Device_Link);
    if (!id)
        return connection.refuseArguments();
    Vxi11Link *target = link(*id, connection);
    if (!target)
        return replyError(connection, Vxi11Error::InvalidLink);
    replyError(connection, target->unlock() ? Vxi11Error::None : Vxi11Error::NoLockHeld);
}
