#include "common/program.h"
#include "common/terminationsignals.h"
#include "instrument/clientslots.h"
#include "instrument/generatorlock.h"
#include "scpid/descriptorlimit.h"
#include "scpid/scpidoptions.h"
#include "scpid/scpiserver.h"
#include "session/generatorsession.h"
#include "session/requestedport.h"
#include "vxi11/vxi11server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <memory>

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
    // VXI-11 is served only where clients can find it: through the portmapper.
    std::unique_ptr<Vxi11Server> vxi11;
    if (options->vxi11) {
        vxi11 = std::make_unique<Vxi11Server>(session, lock, clientSlots);
        if (const Result<void> listening = vxi11->listen(options->listenAddress); !listening) {
            vxi11.reset();
            qWarning().noquote() << "not serving VXI-11:" << listening.error();
        }
    }
    std::fprintf(stderr, "kestrane-scpid: serving %s on %s port %d%s\n", qPrintable(served),
                 qPrintable(options->listenAddress.toString()), int(options->tcpPort),
                 vxi11 ? qPrintable(QStringLiteral(" and VXI-11 on port %1").arg(vxi11->port()))
                       : "");
    session.start();
    return app.exec();
}
