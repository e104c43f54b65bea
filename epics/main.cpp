#include "epics/epicsoptions.h"
#include "epics/pvserver.h"

#include "common/program.h"
#include "common/terminationsignals.h"
#include "session/requestedport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

int main(int argc, char *argv[])
{
    // Held back until the handlers are in place: SIGINT or SIGTERM at any
    // moment ends the program with exit code 0.
    const bool blocked = blockTerminationSignals();
    QCoreApplication app(argc, argv);
    setProgramIdentity(QStringLiteral("kestrane-epics"));
    if (!blocked || !quitOnTerminationSignals(app) || !ignoreBrokenPipes()
        || !unblockTerminationSignals())
        return fail(kExitFailure, QStringLiteral("cannot set up its signal handling"));

    QCommandLineParser parser;
    const Result<EpicsOptions> options = parseEpicsOptions(parser, app.arguments());
    if (const std::optional<int> exitCode = commandLineExit(parser, options.error()))
        return *exitCode;
    qSetMessagePattern(QStringLiteral("kestrane-epics: %{message}"));
    QLoggingCategory::setFilterRules(QStringLiteral("kestrane.*.debug=false"));

    if (options->port.isEmpty()) {
        if (const Result<void> single = checkSingleGenerator(systemPorts()); !single)
            return fail(kExitUsage, single.error());
    } else if (const Result<void> usable = checkRequestedPort(options->port); !usable) {
        return fail(kExitFailure, usable.error());
    }

    const Result<std::unique_ptr<PvServer>> server
            = PvServer::start({options->port, options->replyTimeoutMs, options->prefix,
                               options->listenAddress, options->record, options->restore});
    if (!server)
        return fail(kExitFailure, server.error());
    qInfo().noquote() << QStringLiteral("serving %1 as %2* on %3 port %4")
                                 .arg(options->port.isEmpty()
                                              ? QStringLiteral("the generator attached")
                                              : options->port,
                                      options->prefix, options->listenAddress)
                                 .arg(server.value()->tcpPort());
    // Ends every session when it returns: from then on no server thread
    // waits for this one.
    return QCoreApplication::exec();
}
