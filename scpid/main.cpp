#include "common/program.h"
#include "common/terminationsignals.h"
#include "instrument/clientslots.h"
#include "instrument/generatorlock.h"
#include "scpid/descriptorlimit.h"
#include "scpid/scpidoptions.h"
#include "scpid/scpiserver.h"
#include "session/generatorsession.h"
#include "session/requestedport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    setProgramIdentity(QStringLiteral("kestrane-scpid"));

    QCommandLineParser parser;
    const Result<ScpidOptions> options = parseScpidOptions(parser, app.arguments());
    if (const std::optional<int> exitCode = commandLineExit(parser, options.error()))
        return *exitCode;
    qSetMessagePattern(
            QStringLiteral("kestrane-scpid: %{time yyyy-MM-ddThh:mm:ss.zzz} %{message}"));
    QLoggingCategory::setFilterRules(options->verbose ? QStringLiteral("kestrane.*.debug=true")
                                                      : QStringLiteral("kestrane.*.debug=false"));

    if (const Result<void> room = reserveDescriptorsFor(options->maxClients); !room)
        return fail(kExitUsage, QStringLiteral("--max-clients: ") + room.error());
    if (options->port.isEmpty()) {
        const Result<void> single = checkSingleGenerator(systemPorts());
        if (!single)
            return fail(kExitUsage, single.error());
    } else if (const Result<void> usable = checkRequestedPort(options->port); !usable) {
        return fail(kExitFailure, usable.error());
    }
    if (!quitOnTerminationSignals(app) || !ignoreBrokenPipes())
        return fail(kExitFailure, QStringLiteral("cannot set up its signal handling"));

    GeneratorSession session(options->port);
    session.setReplyTimeoutMs(options->replyTimeoutMs);
    GeneratorLock lock;
    ClientSlots clientSlots(options->maxClients);
    ScpiServer server(session, lock, clientSlots);
    if (const Result<void> listening = server.listen(options->listenAddress, options->tcpPort);
        !listening)
        return fail(kExitFailure, listening.error());
    const QString served
            = options->port.isEmpty() ? QStringLiteral("the generator attached") : options->port;
    std::fprintf(stderr, "kestrane-scpid: serving %s on %s port %d\n", qPrintable(served),
                 qPrintable(options->listenAddress.toString()), int(options->tcpPort));
    session.start();
    return app.exec();
}
