#include "common/program.h"
#include "common/terminationsignals.h"
#include "simulator/generatorstate.h"
#include "simulator/simulator.h"
#include "simulator/simulatoroptions.h"
#include "terminal/rawterminal.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

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
    setProgramIdentity(QStringLiteral("kestrane-sim"));

    QCommandLineParser parser;
    const Result<SimulatorOptions> options = parseSimulatorOptions(parser, app.arguments());
    if (const std::optional<int> exitCode = commandLineExit(parser, options.error()))
        return *exitCode;

    GeneratorState state;
    if (!options->statePath.isEmpty()) {
        const Result<GeneratorState> loaded = GeneratorState::load(options->statePath);
        if (!loaded)
            return fail(kExitUsage, loaded.error());
        state = loaded.value();
    }

    RawTerminal link;
    const Result<void> opened = openLink(link, options.value());
    if (!opened)
        return fail(kExitFailure, opened.error());
    if (!quitOnTerminationSignals(app))
        return fail(kExitFailure, QStringLiteral("cannot watch for termination signals"));

    std::printf("%s\n", qPrintable(link.devicePath()));
    std::fflush(stdout);

    Simulator simulator(options.value(), state, link);
    QObject::connect(&simulator, &Simulator::hungUp, &app, [&app] { app.exit(0); });
    QObject::connect(&simulator, &Simulator::linkFailed, &app, [&](const QString &reason) {
        fail(kExitFailure, QStringLiteral("%1: %2").arg(link.devicePath(), reason));
        app.exit(kExitFailure);
    });
    simulator.start();
    return app.exec();
}
