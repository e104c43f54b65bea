#ifndef MONOTONICCLOCK_H
#define MONOTONICCLOCK_H

#include <QtGlobal>

#include <ctime>

// Nanoseconds on the system-wide monotonic clock: one time line shared by
// the benchmark and the programs it starts, unlike QElapsedTimer's.
inline qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

#endif // MONOTONICCLOCK_H
