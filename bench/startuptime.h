#ifndef STARTUPTIME_H
#define STARTUPTIME_H

#include "common/result.h"

#include <QList>
#include <QProcessEnvironment>

// Start-up times of the kestrane window and of its floor (windowprobe.cpp,
// floorprobe.cpp), each from just before its process is started to its
// window being exposed. The two alternate, so that each pair of runs sees
// the same machine.
struct StartupRuns
{
    QList<double> windowMs;
    QList<double> floorMs;
    // The window's time over the floor's, one per pair of runs.
    QList<double> ratios;
};

Result<StartupRuns> measureStartups(const QString &programDir, int pairs,
                                    const QProcessEnvironment &environment);

#endif // STARTUPTIME_H
