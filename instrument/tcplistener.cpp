#include "instrument/tcplistener.h"

#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

Q_LOGGING_CATEGORY(lcListener, "kestrane.listener")

namespace {

constexpr int kRetryMs = 1000;
constexpr int kBacklog = 64;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

TcpListener::TcpListener(Accepted accepted, QObject *parent) :
    QObject(parent),
    accepted(std::move(accepted)),
    retryTimer(new QTimer(this))
{
    retryTimer->setSingleShot(true);
    retryTimer->setInterval(kRetryMs);
    connect(retryTimer, &QTimer::timeout, this, &TcpListener::resume);
}

TcpListener::~TcpListener()
{
    if (socket >= 0)
        ::close(socket);
}

Result<void> TcpListener::listen(const QHostAddress &address, quint16 port)
{
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *ipv6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        ipv6->sin6_family = AF_INET6;
        ipv6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&ipv6->sin6_addr, &bytes, sizeof bytes);
        length = sizeof *ipv6;
    } else {
        auto *ipv4 = reinterpret_cast<sockaddr_in *>(&storage);
        ipv4->sin_family = AF_INET;
        ipv4->sin_port = htons(port);
        ipv4->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof *ipv4;
    }
    socket = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int reuse = 1;
    if (socket < 0 || ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0
        || ::bind(socket, reinterpret_cast<const sockaddr *>(&storage), length) != 0
        || ::listen(socket, kBacklog) != 0) {
        const QString reason = systemError();
        const QString where
                = port == 0 ? address.toString()
                            : QStringLiteral("%1 port %2").arg(address.toString()).arg(port);
        return Failure{QStringLiteral("cannot listen on %1: %2").arg(where, reason)};
    }
    notifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TcpListener::acceptPending);
    return {};
}

quint16 TcpListener::port() const
{
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getsockname(socket, reinterpret_cast<sockaddr *>(&storage), &length) != 0)
        return 0;
    return ntohs(storage.ss_family == AF_INET6
                         ? reinterpret_cast<const sockaddr_in6 *>(&storage)->sin6_port
                         : reinterpret_cast<const sockaddr_in *>(&storage)->sin_port);
}

void TcpListener::resume()
{
    retryTimer->stop();
    if (notifier)
        notifier->setEnabled(true);
}

void TcpListener::acceptPending()
{
    while (true) {
        const int client = ::accept4(socket, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client >= 0) {
            outOfDescriptors = false;
            accepted(client);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        const bool outOfResources
                = errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
        if (!outOfResources)
            qCWarning(lcListener).noquote() << "cannot accept a client:" << systemError();
        else if (!std::exchange(outOfDescriptors, true))
            qCWarning(lcListener).noquote() << "not accepting clients for now:" << systemError();
        notifier->setEnabled(false);
        retryTimer->start();
        return;
    }
}

QString peerAddress(int socket)
{
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getpeername(socket, reinterpret_cast<sockaddr *>(&storage), &length) != 0)
        return QStringLiteral("unknown");
    QHostAddress address;
    address.setAddress(reinterpret_cast<const sockaddr *>(&storage));
    const quint16 port = ntohs(storage.ss_family == AF_INET6
                                       ? reinterpret_cast<const sockaddr_in6 *>(&storage)->sin6_port
                                       : reinterpret_cast<const sockaddr_in *>(&storage)->sin_port);
    return QStringLiteral("%1:%2").arg(address.toString()).arg(port);
}

std::optional<qsizetype> sendAvailable(int socket, const QByteArray &bytes)
{
    const ssize_t count
            = ::send(socket, bytes.constData(), size_t(bytes.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (count >= 0)
        return qsizetype(count);
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return 0;
    return std::nullopt;
}

SocketInput receiveAvailable(int socket, qsizetype most)
{
    SocketInput input;
    if (most <= 0)
        return input; // no room: nothing read, nothing learnt
    input.bytes.resize(most);
    const ssize_t count = ::recv(socket, input.bytes.data(), size_t(most), MSG_DONTWAIT);
    input.bytes.resize(qMax<qsizetype>(count, 0));
    input.failed = count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
    input.open = count != 0 && !input.failed;
    return input;
}
