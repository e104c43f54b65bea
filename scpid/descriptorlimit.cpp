#include "scpid/descriptorlimit.h"

#include <sys/resource.h>

Result<void> reserveDescriptorsFor(int clients, int webConnections)
{
    const rlim_t needed = rlim_t(clients) * kDescriptorsPerClient
                          + rlim_t(webConnections) * kDescriptorsPerWebConnection
                          + kDescriptorsBesidesClients;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= needed)
        return {};
    if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max >= needed) {
        const rlimit raised{needed, limit.rlim_max};
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            return {};
    }
    const QString connections = webConnections == 0
                                        ? QStringLiteral("%1 clients").arg(clients)
                                        : QStringLiteral("%1 clients and %2 web connections")
                                                  .arg(clients)
                                                  .arg(webConnections);
    return Failure{QStringLiteral("%1 need %2 open files, but the limit is %3 "
                                  "(ulimit -n, or LimitNOFILE= in a systemd unit)")
                           .arg(connections)
                           .arg(needed)
                           .arg(limit.rlim_cur)};
}
