#include "vxi11/portmapper.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <rpc/rpc.h>
#include <rpc/pmap_prot.h>

namespace {

// A portmapper that does not answer must not hold the daemon up for long.
constexpr timeval kCallTimeout{2, 0};
constexpr quint16 kPortmapperPort = 111;

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// One call to the portmapper: its answer, a port for GETPORT or a yes or no.
Result<u_long> callPortmapper(u_long procedure, quint32 program, quint32 version, quint16 port)
{
    sockaddr_in address = loopback(kPortmapperPort);
    int socket = RPC_ANYSOCK;
    CLIENT *client = clnttcp_create(&address, PMAPPROG, PMAPVERS, &socket, 0, 0);
    if (!client) {
        // The text after the ": " that follows clnt_spcreateerror()'s (empty) prefix.
        const QString reason = QString::fromLocal8Bit(clnt_spcreateerror("")).mid(2).trimmed();
        return Failure{QStringLiteral("no portmapper (rpcbind) on 127.0.0.1 port %1: %2")
                               .arg(kPortmapperPort)
                               .arg(reason)};
    }
    pmap mapping{program, version, IPPROTO_TCP, port};
    u_long answer = 0;
    const clnt_stat status
            = clnt_call(client, procedure, xdrproc_t(xdr_pmap), reinterpret_cast<char *>(&mapping),
                        xdrproc_t(xdr_u_long), reinterpret_cast<char *>(&answer), kCallTimeout);
    const QString problem
            = status == RPC_SUCCESS
                      ? QString()
                      : QString::fromLocal8Bit(clnt_sperror(client, "the portmapper")).trimmed();
    clnt_destroy(client);
    if (!problem.isEmpty())
        return Failure{problem};
    return answer;
}

bool somethingListensOn(quint16 port)
{
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(port);
    const bool listening
            = probe >= 0
              && ::connect(probe, reinterpret_cast<const sockaddr *>(&address), sizeof address)
                         == 0;
    if (probe >= 0)
        ::close(probe);
    return listening;
}

} // namespace

Result<std::unique_ptr<PortmapperRegistration>> PortmapperRegistration::make(quint32 program,
                                                                             quint32 version,
                                                                             quint16 port)
{
    const Result<u_long> registered = callPortmapper(PMAPPROC_GETPORT, program, version, 0);
    if (!registered)
        return Failure{registered.error()};
    if (registered.value() != 0) {
        const auto other = quint16(registered.value());
        if (somethingListensOn(other))
            return Failure{QStringLiteral("the portmapper names port %1 for program %2 already, "
                                          "where another server listens")
                                   .arg(other)
                                   .arg(program)};
        // Left by a server that ended without unregistering.
        [[maybe_unused]] const Result<u_long> unset
                = callPortmapper(PMAPPROC_UNSET, program, version, 0);
    }
    const Result<u_long> set = callPortmapper(PMAPPROC_SET, program, version, port);
    if (!set)
        return Failure{set.error()};
    if (set.value() == 0)
        return Failure{
                QStringLiteral("the portmapper refused to register program %1").arg(program)};
    return std::unique_ptr<PortmapperRegistration>(new PortmapperRegistration(program, version));
}

PortmapperRegistration::~PortmapperRegistration()
{
    [[maybe_unused]] const Result<u_long> unset
            = callPortmapper(PMAPPROC_UNSET, program, version, 0);
}
