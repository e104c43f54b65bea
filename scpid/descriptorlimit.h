#ifndef DESCRIPTORLIMIT_H
#define DESCRIPTORLIMIT_H

#include "common/result.h"

// A client may have a raw socket, or a VXI-11 link whose connection carries
// nothing else; each socket may be watched for reading and for writing at
// once, and poll() counts each watch against the open-file limit.
constexpr int kDescriptorsPerClient = 4;
// Descriptors the daemon holds besides its clients: standard streams, the
// serial port and its lock, the listening sockets, the signal socket pair,
// the connection to avahi-daemon and Qt's own, with room to spare.
constexpr int kDescriptorsBesidesClients = 24;

// Makes sure the process may open a descriptor for each of `clients` and
// `webConnections` at once, raising its soft limit towards the hard one
// when needed; fails, saying by how much, when even that is too few.
Result<void> reserveDescriptorsFor(int clients, int webConnections);

#endif // DESCRIPTORLIMIT_H
