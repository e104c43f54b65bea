#ifndef DESCRIPTORLIMIT_H
#define DESCRIPTORLIMIT_H

#include "common/result.h"

// Each socket may be watched for reading and for writing at once, and
// poll() counts each watch against the open-file limit. A client is a raw
// socket, a VXI-11 link or a HiSLIP session (two sockets); besides, each
// client slot allows one RPC connection and one HiSLIP connection that are
// not a client (yet).
constexpr int kDescriptorsPerClient = 8;
// A web connection is one socket, which Qt's socket engine may watch in
// more ways than the daemon's own: room for four.
constexpr int kDescriptorsPerWebConnection = 4;
// Descriptors the daemon holds besides its clients: standard streams, the
// serial port and its lock, the listening sockets, the signal socket pair,
// the connection to avahi-daemon and Qt's own, with room to spare.
constexpr int kDescriptorsBesidesClients = 24;

// Makes sure the process may open a descriptor for each of `clients` and
// `webConnections` at once, raising its soft limit towards the hard one
// when needed; fails, saying by how much, when even that is too few.
Result<void> reserveDescriptorsFor(int clients, int webConnections);

#endif // DESCRIPTORLIMIT_H
