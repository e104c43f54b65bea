#ifndef RAWROUNDTRIP_H
#define RAWROUNDTRIP_H

#include <QByteArray>

// Writes a set frame to the simulator on `fd`, waits for its "OK\r\n" and
// reads it: the least any program can do for one exchange, the yardstick
// of every round trip the benchmarks measure. Returns the nanoseconds it
// took, or -1 when the write, the wait or the reply failed.
qint64 rawRoundTripNs(int fd, const QByteArray &frame);

#endif // RAWROUNDTRIP_H
