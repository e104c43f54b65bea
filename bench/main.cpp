// Measures the window: how long its program takes to start (next to a
// floor: the same form in a program without the serial library), how long a
// Set press takes against a generator that answers at once (next to the same
// round trip in plain POSIX calls), and how much memory a process showing it
// needs.
#include "app/dialog.h"
#include "bench/quantile.h"
#include "bench/rawroundtrip.h"
#include "bench/startuptime.h"
#include "device/generatorids.h"
#include "terminal/rawterminal.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// On a busy 2-core machine, 80 pairs keep the start-up ratio within about 5%
// from one run of the benchmark to the next (40: up to 6%), in a minute or so
// under Xvfb.
constexpr int kStartupPairs = 80;
// Serial library and port discovery may add a fifth to what the form costs.
constexpr double kStartupGoalRatio = 1.2;
constexpr int kRoundTrips = 1000;
constexpr double kGoalRatio = 1.5;
const QByteArray kFrame = QByteArrayLiteral("01000091");

double medianMs(const QList<qint64> &nanoseconds)
{
    return quantile(nanoseconds, 0.5) / 1e6;
}

// Median, then the middle half of the runs: "12.34 ms  IQR 11.90-13.02 ms".
void printSpread(const char *measure, const QList<double> &values, const char *unit,
                 const char *note = "")
{
    std::printf("%-52s %9.2f%-3s IQR %.2f-%.2f%s%s\n", measure, quantile(values, 0.5), unit,
                quantile(values, 0.25), quantile(values, 0.75), unit, note);
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
        return QList<PortDescription>{
                {devicePath, devicePath, kGeneratorVendorId, kGeneratorProductId}};
    });
    dialog.show();
    dialog.findChild<QPushButton *>(QStringLiteral("pbConnect"))->click();
    auto *set = dialog.findChild<QPushButton *>(QStringLiteral("pbSet"));
    // The same device end, opened raw as any serial port would be.
    RawTerminal rawEnd;
    if (!set->isEnabled() || !rawEnd.openSerialPort(devicePath))
        return {};

    QList<qint64> window;
    QList<qint64> raw;
    for (int run = 0; run < kRoundTrips; ++run) {
        QElapsedTimer clock;
        clock.start();
        set->click();
        window.append(clock.nsecsElapsed());
        raw.append(rawRoundTripNs(rawEnd.fd(), kFrame));
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

// The start-up probes run on a real display when there is one: the
// platform the user asked for, else X (under xvfb-run, for instance), else
// offscreen.
QProcessEnvironment probeEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"),
                           environment.contains(QStringLiteral("DISPLAY"))
                                   ? QStringLiteral("xcb")
                                   : QStringLiteral("offscreen"));
    return environment;
}

void printStartupRows(const StartupRuns &runs, const QString &platform)
{
    std::printf("start-up on the %s platform, %lld runs of each, alternating:\n",
                qPrintable(platform), static_cast<long long>(runs.ratios.size()));
    printSpread("  kestrane: process started to window exposed", runs.windowMs, " ms");
    printSpread("  floor: same form, no serial library, no ports", runs.floorMs, " ms");
    const bool met = quantile(runs.ratios, 0.5) <= kStartupGoalRatio;
    const QByteArray goal = QStringLiteral(" (goal <= %1x: %2)")
                                    .arg(kStartupGoalRatio, 0, 'f', 1)
                                    .arg(met ? "met" : "missed")
                                    .toLatin1();
    printSpread("  kestrane / floor, run by run", runs.ratios, "x", goal.constData());
}

} // namespace

int main(int argc, char *argv[])
{
    const QProcessEnvironment probes = probeEnvironment();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Every log line is built as usual, then dropped rather than printed.
    qputenv("QT_LOGGING_RULES", "default.debug=true");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(KESTRANE_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Times the kestrane window's start-up, its Set round trip and its memory."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption pairsOption(
            QStringLiteral("runs"),
            QStringLiteral("Starts the window's program and its floor N times each."),
            QStringLiteral("N"), QString::number(kStartupPairs));
    QCommandLineOption childOption(QStringLiteral("show-window-and-report"));
    childOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({pairsOption, childOption});
    parser.process(app);
    if (parser.isSet(childOption))
        return showWindowAndReport();
    bool isNumber = false;
    const int pairs = parser.value(pairsOption).toInt(&isNumber);
    if (!isNumber || pairs < 1) {
        std::fprintf(stderr, "kestrane-bench: --runs takes a whole number above 0\n");
        return 2;
    }

    const double peakMiB = childPeakMiB(app.applicationFilePath());
    const Result<StartupRuns> startups = measureStartups(app.applicationDirPath(), pairs, probes);
    if (!startups) {
        std::fprintf(stderr, "kestrane-bench: %s\n", qPrintable(startups.error()));
        return 1;
    }

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

    if (peakMiB < 0 || raw <= 0 || window < 0) {
        std::fprintf(stderr, "kestrane-bench: a measurement failed\n");
        return 1;
    }
    const double ratio = window / raw;
    std::printf("%-52s %12s\n", "measure (median; IQR: the middle half of the runs)", "value");
    printStartupRows(startups.value(), probes.value(QStringLiteral("QT_QPA_PLATFORM")));
    std::printf("on the offscreen platform:\n");
    std::printf("%-52s %9.3f ms\n", "Set round trip: click to answer logged", window);
    std::printf("%-52s %9.3f ms\n", "raw round trip: write, poll, read (POSIX)", raw);
    std::printf("%-52s %10.2fx (goal <= %.1fx: %s)\n", "Set round trip / raw round trip", ratio,
                kGoalRatio, ratio <= kGoalRatio ? "met" : "missed");
    std::printf("%-52s %8.1f MiB\n", "peak resident memory, process showing the window", peakMiB);
    return 0;
}
