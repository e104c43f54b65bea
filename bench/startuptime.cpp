#include "bench/startuptime.h"
#include "bench/monotonicclock.h"

#include <QProcess>

namespace {

constexpr int kExposeTimeoutMs = 30000;

// The probe prints the monotonic time at which its window was exposed, then
// ends by itself.
Result<double> startToExposedMs(const QString &program, const QProcessEnvironment &environment)
{
    QProcess probe;
    probe.setProcessEnvironment(environment);
    probe.setStandardErrorFile(QProcess::nullDevice());
    const qint64 startedNs = monotonicNs();
    probe.start(program, {});
    if (!probe.waitForStarted())
        return Failure{program + QStringLiteral(": ") + probe.errorString()};
    if (!probe.waitForFinished(kExposeTimeoutMs)) {
        probe.kill();
        probe.waitForFinished();
        return Failure{program + QStringLiteral(": no window exposed within ")
                       + QString::number(kExposeTimeoutMs) + QStringLiteral(" ms")};
    }
    bool isNumber = false;
    const qint64 exposedNs = probe.readAllStandardOutput().trimmed().toLongLong(&isNumber);
    if (probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0 || !isNumber)
        return Failure{program + QStringLiteral(": ended without reporting an exposed window")};
    return double(exposedNs - startedNs) / 1e6;
}

} // namespace

Result<StartupRuns> measureStartups(const QString &programDir, int pairs,
                                    const QProcessEnvironment &environment)
{
    const QString window = programDir + QStringLiteral("/kestrane-bench-window");
    const QString floor = programDir + QStringLiteral("/kestrane-bench-floor");
    StartupRuns runs;
    // The first pair only fills the file and font caches.
    for (int pair = -1; pair < pairs; ++pair) {
        const Result<double> windowMs = startToExposedMs(window, environment);
        if (!windowMs)
            return Failure{windowMs.error()};
        const Result<double> floorMs = startToExposedMs(floor, environment);
        if (!floorMs)
            return Failure{floorMs.error()};
        if (pair < 0)
            continue;
        runs.windowMs.append(windowMs.value());
        runs.floorMs.append(floorMs.value());
        runs.ratios.append(windowMs.value() / floorMs.value());
    }
    return runs;
}
