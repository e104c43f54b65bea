// Measures the window: how long it takes to show, how long a Set press
// takes against a generator that answers at once (next to the same round
// trip in plain POSIX calls), and how much memory a process showing it needs.
#include "terminal/rawterminal.h"
#include "app/dialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kShowRuns = 20;
constexpr int kRoundTrips = 1000;
constexpr double kGoalRatio = 1.5;
const QByteArray kFrame = QByteArrayLiteral("01000091");
const QByteArray kReply = QByteArrayLiteral("OK\r\n");

double medianMs(QList<qint64> nanoseconds)
{
    std::sort(nanoseconds.begin(), nanoseconds.end());
    return nanoseconds.isEmpty() ? 0.0 : double(nanoseconds[nanoseconds.size() / 2]) / 1e6;
}

double showMs()
{
    QList<qint64> runs;
    for (int run = 0; run < kShowRuns; ++run) {
        QElapsedTimer clock;
        clock.start();
        Dialog dialog;
        dialog.show();
        if (!QTest::qWaitForWindowExposed(&dialog))
            return -1;
        runs.append(clock.nsecsElapsed());
    }
    return medianMs(runs);
}

// Write, wait for the reply, read: the least any program can do.
qint64 rawRoundTripNs(int fd)
{
    QElapsedTimer clock;
    clock.start();
    if (::write(fd, kFrame.constData(), size_t(kFrame.size())) != kFrame.size())
        return -1;
    QByteArray reply;
    char buffer[64];
    pollfd ready{fd, POLLIN, 0};
    while (reply.size() < kReply.size() && ::poll(&ready, 1, 1000) > 0) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count <= 0)
            return -1;
        reply.append(buffer, count);
    }
    return reply == kReply ? clock.nsecsElapsed() : -1;
}

struct RoundTrips
{
    double windowMs = -1;
    double rawMs = -1;
};

// Window and raw round trips alternate on the same pseudo-terminal, so that
// both see the same machine.
RoundTrips measureRoundTrips(const QString &devicePath)
{
    Dialog dialog([devicePath] {
        return QList<PortDescription>{{devicePath, devicePath, 0x0483, 0x5740}};
    });
    dialog.show();
    dialog.findChild<QPushButton *>(QStringLiteral("pbConnect"))->click();
    auto *set = dialog.findChild<QPushButton *>(QStringLiteral("pbSet"));
    // The same device end, opened raw as any serial port would be.
    RawTerminal rawEnd;
    QString error;
    if (!set->isEnabled() || !rawEnd.openSerialPort(devicePath, &error))
        return {};

    QList<qint64> window;
    QList<qint64> raw;
    for (int run = 0; run < kRoundTrips; ++run) {
        QElapsedTimer clock;
        clock.start();
        set->click();
        window.append(clock.nsecsElapsed());
        raw.append(rawRoundTripNs(rawEnd.fd()));
        if (raw.constLast() < 0)
            return {};
    }
    return {medianMs(window), medianMs(raw)};
}

long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The child that shows the window and reports its own peak memory.
int showWindowAndReport()
{
    Dialog dialog;
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog))
        return 1;
    QTest::qWait(200);
    std::printf("%ld\n", peakResidentKiB());
    return 0;
}

double childPeakMiB(const QString &program)
{
    QProcess child;
    child.start(program, {"--show-window-and-report"});
    if (!child.waitForFinished(30000) || child.exitCode() != 0)
        return -1;
    return child.readAllStandardOutput().trimmed().toDouble() / 1024.0;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Every log line is built as usual, then dropped rather than printed.
    qputenv("QT_LOGGING_RULES", "default.debug=true");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QApplication app(argc, argv);
    if (app.arguments().contains("--show-window-and-report"))
        return showWindowAndReport();

    const double peakMiB = childPeakMiB(app.applicationFilePath());
    const double show = showMs();

    QProcess simulator;
    simulator.start(app.applicationDirPath() + QStringLiteral("/../simulator/kestrane-sim"));
    if (!simulator.waitForReadyRead(5000)) {
        std::fprintf(stderr, "kestrane-bench: kestrane-sim did not start (is it built?)\n");
        return 1;
    }
    const QString devicePath = QString::fromLocal8Bit(simulator.readLine()).trimmed();
    const RoundTrips roundTrips = measureRoundTrips(devicePath);
    const double window = roundTrips.windowMs;
    const double raw = roundTrips.rawMs;
    simulator.terminate();
    simulator.waitForFinished(5000);

    if (peakMiB < 0 || show < 0 || raw <= 0 || window < 0) {
        std::fprintf(stderr, "kestrane-bench: a measurement failed\n");
        return 1;
    }
    const double ratio = window / raw;
    std::printf("%-52s %12s\n", "measure (offscreen platform, median)", "value");
    std::printf("%-52s %9.2f ms\n", "window: constructed to shown", show);
    std::printf("%-52s %9.3f ms\n", "Set round trip: click to answer logged", window);
    std::printf("%-52s %9.3f ms\n", "raw round trip: write, poll, read (POSIX)", raw);
    std::printf("%-52s %10.2fx (goal <= %.1fx: %s)\n", "Set round trip / raw round trip", ratio,
                kGoalRatio, ratio <= kGoalRatio ? "met" : "missed");
    std::printf("%-52s %8.1f MiB\n", "peak resident memory, process showing the window", peakMiB);
    return 0;
}
