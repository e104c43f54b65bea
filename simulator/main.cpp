#include "terminal/rawterminal.h"
#include "simulator/generatorstate.h"
#include "simulator/simulator.h"
#include "simulator/simulatoroptions.h"
#include "common/terminationsignals.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

namespace {

constexpr int kExitLinkError = 1;
constexpr int kExitUsageError = 2;

int fail(int exitCode, const QString &message)
{
    std::fprintf(stderr, "kestrane-sim: %s\n", qPrintable(message));
    return exitCode;
}

// A missing file is a generator that has never saved: all channels 0.
bool loadState(const QString &path, GeneratorState *state, QString *error)
{
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    int errorLine = 0;
    QString reason;
    *state = GeneratorState::fromText(QString::fromUtf8(file.readAll()), &errorLine, &reason);
    if (errorLine != 0)
        *error = QStringLiteral("%1:%2: %3").arg(path).arg(errorLine).arg(reason);
    return errorLine == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    int exitCode = 0;
    QString message;
    const std::optional<SimulatorOptions> options
            = parseSimulatorOptions(app.arguments(), &exitCode, &message);
    if (!options) {
        std::fputs(qPrintable(message), exitCode == 0 ? stdout : stderr);
        return exitCode;
    }

    GeneratorState state;
    QString error;
    if (!options->statePath.isEmpty() && !loadState(options->statePath, &state, &error))
        return fail(kExitUsageError, error);

    RawTerminal link;
    const bool opened = options->devicePath.isEmpty()
                                ? link.openPseudoTerminal(&error)
                                : link.openSerialPort(options->devicePath, &error);
    if (!opened || (!options->linkPath.isEmpty() && !link.makeLink(options->linkPath, &error)))
        return fail(kExitLinkError, error);
    if (!quitOnTerminationSignals(app))
        return fail(kExitLinkError, QStringLiteral("cannot watch for termination signals"));

    std::printf("%s\n", qPrintable(link.devicePath()));
    std::fflush(stdout);

    Simulator simulator(*options, state, link);
    QObject::connect(&simulator, &Simulator::hungUp, &app, [&app] { app.exit(0); });
    QObject::connect(&simulator, &Simulator::linkFailed, &app, [&](const QString &reason) {
        fail(kExitLinkError, QStringLiteral("%1: %2").arg(link.devicePath(), reason));
        app.exit(kExitLinkError);
    });
    simulator.start();
    return app.exec();
}
