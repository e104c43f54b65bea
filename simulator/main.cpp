#include "common/commandlineexit.h"
#include "common/terminationsignals.h"
#include "simulator/generatorstate.h"
#include "simulator/simulator.h"
#include "simulator/simulatoroptions.h"
#include "terminal/rawterminal.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

constexpr int kExitLinkError = 1;
constexpr int kExitUsageError = 2;

int fail(int exitCode, const QString &message)
{
    std::fprintf(stderr, "kestrane-sim: %s\n", qPrintable(message));
    return exitCode;
}

Result<void> openLink(RawTerminal &link, const SimulatorOptions &options)
{
    Result<void> opened = options.devicePath.isEmpty() ? link.openPseudoTerminal()
                                                       : link.openSerialPort(options.devicePath);
    if (!opened || options.linkPath.isEmpty())
        return opened;
    return link.makeLink(options.linkPath);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kestrane-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KESTRANE_VERSION));

    QCommandLineParser parser;
    const Result<SimulatorOptions> options = parseSimulatorOptions(parser, app.arguments());
    endOnHelpVersionOrUsageError(parser, options.error());

    GeneratorState state;
    if (!options->statePath.isEmpty()) {
        const Result<GeneratorState> loaded = GeneratorState::load(options->statePath);
        if (!loaded)
            return fail(kExitUsageError, loaded.error());
        state = loaded.value();
    }

    RawTerminal link;
    const Result<void> opened = openLink(link, options.value());
    if (!opened)
        return fail(kExitLinkError, opened.error());
    if (!quitOnTerminationSignals(app))
        return fail(kExitLinkError, QStringLiteral("cannot watch for termination signals"));

    std::printf("%s\n", qPrintable(link.devicePath()));
    std::fflush(stdout);

    Simulator simulator(options.value(), state, link);
    QObject::connect(&simulator, &Simulator::hungUp, &app, [&app] { app.exit(0); });
    QObject::connect(&simulator, &Simulator::linkFailed, &app, [&](const QString &reason) {
        fail(kExitLinkError, QStringLiteral("%1: %2").arg(link.devicePath(), reason));
        app.exit(kExitLinkError);
    });
    simulator.start();
    return app.exec();
}
