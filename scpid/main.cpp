#include "common/program.h"
#include "common/terminationsignals.h"
#include "mdns/servicepublisher.h"
#include "scpid/descriptorlimit.h"
#include "scpid/scpidoptions.h"
#include "scpid/scpiserver.h"
#include "session/generatorsession.h"
#include "session/requestedport.h"
#include "web/webserver.h"

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

    const int webConnections = options->httpPort == 0 ? 0 : WebServer::kMaxConnections;
    if (const Result<void> room = reserveDescriptorsFor(options->maxClients, webConnections); !room)
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
    ScpiServer server(session, options->maxClients);
    if (const Result<void> listening = server.listen(options->listenAddress, options->tcpPort);
        !listening)
        return fail(kExitFailure, listening.error());

    const QString manufacturer = QStringLiteral("Kestrane");
    // Announced and named as a resource only while VXI-11 is served.
    const bool servesVxi11 = false;
    std::unique_ptr<WebServer> web;
    if (options->httpPort != 0) {
        web = std::make_unique<WebServer>(
                session, ServedInstrument{manufacturer, app.applicationName(),
                                          app.applicationVersion(), options->tcpPort, servesVxi11});
        if (const Result<void> listening = web->listen(options->listenAddress, options->httpPort);
            !listening)
            return fail(kExitFailure, QStringLiteral("--http-port: ") + listening.error());
    }
    ServicePublisher publisher({options->listenAddress, manufacturer, app.applicationName(),
                                app.applicationVersion(), options->tcpPort, options->httpPort,
                                servesVxi11});
    if (options->mdns) {
        QObject::connect(&session, &GeneratorSession::linkChanged, &publisher,
                         [&] { publisher.setSerialNumber(session.serialNumber()); });
        publisher.start();
    }

    const QString served
            = options->port.isEmpty() ? QStringLiteral("the generator attached") : options->port;
    const QString page
            = web ? QStringLiteral(", the status page on port %1").arg(web->port()) : QString();
    std::fprintf(stderr, "kestrane-scpid: serving %s on %s port %d%s\n", qPrintable(served),
                 qPrintable(options->listenAddress.toString()), int(options->tcpPort),
                 qPrintable(page));
    session.start();
    return app.exec();
}
