#include "common/program.h"
#include "common/terminationsignals.h"
#include "hislip/hislipserver.h"
#include "instrument/clientslots.h"
#include "instrument/generatorlock.h"
#include "instrument/unitserial.h"
#include "mdns/servicepublisher.h"
#include "scpid/descriptorlimit.h"
#include "scpid/scpidoptions.h"
#include "scpid/scpiserver.h"
#include "session/generatorsession.h"
#include "session/requestedport.h"
#include "vxi11/vxi11server.h"
#include "web/webserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    // Qt's own event dispatcher, not GLib's: the daemon changes the sockets
    // it watches with every command, and GLib's pays a wake-up (an eventfd
    // written and read, and one more poll) for each change.
    qputenv("QT_NO_GLIB", "1");
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
    session.keepRecord(options->record, options->restore);
    GeneratorLock lock;
    ClientSlots clientSlots(options->maxClients);
    ScpiServer server(session, lock, clientSlots);
    if (const Result<void> listening = server.listen(options->listenAddress, options->tcpPort);
        !listening)
        return fail(kExitFailure, listening.error());

    // HiSLIP on the raw socket's address.
    std::unique_ptr<HislipServer> hislip;
    if (options->hislip) {
        hislip = std::make_unique<HislipServer>(session, lock, clientSlots);
        if (const Result<void> listening
            = hislip->listen(options->listenAddress, options->hislipPort);
            !listening)
            return fail(kExitFailure, QStringLiteral("--hislip-port: ") + listening.error());
    }
    const quint16 hislipPort = hislip ? hislip->port() : 0;

    // VXI-11 is served only where clients can find it: through the portmapper.
    std::unique_ptr<Vxi11Server> vxi11;
    if (options->vxi11) {
        vxi11 = std::make_unique<Vxi11Server>(session, lock, clientSlots);
        if (const Result<void> listening = vxi11->listen(options->listenAddress); !listening) {
            vxi11.reset();
            qWarning().noquote() << "not serving VXI-11:" << listening.error();
        }
    }

    const QString manufacturer = QStringLiteral("Kestrane");
    // Announced and named as a resource only while VXI-11 is served.
    const bool servesVxi11 = vxi11 != nullptr;
    std::unique_ptr<WebServer> web;
    if (options->httpPort != 0) {
        web = std::make_unique<WebServer>(
                session, lock,
                ServedInstrument{manufacturer, app.applicationName(), app.applicationVersion(),
                                 options->tcpPort, servesVxi11,
                                 hislip ? hislipDeviceName(hislipPort) : QString()});
        if (const Result<void> listening = web->listen(options->listenAddress, options->httpPort);
            !listening)
            return fail(kExitFailure, QStringLiteral("--http-port: ") + listening.error());
    }
    ServicePublisher publisher({options->listenAddress, manufacturer, app.applicationName(),
                                app.applicationVersion(), options->tcpPort, options->httpPort,
                                servesVxi11, hislipPort});
    if (options->mdns) {
        const auto announceUnit = [&] {
            publisher.setSerialNumber(unitSerialNumber(session), !session.serialNumber().isEmpty());
        };
        QObject::connect(&session, &GeneratorSession::linkChanged, &publisher, announceUnit);
        announceUnit();
        publisher.start();
    }

    const QString served
            = options->port.isEmpty() ? QStringLiteral("the generator attached") : options->port;
    const QString page
            = web ? QStringLiteral(", the status page on port %1").arg(web->port()) : QString();
    const QString overVxi11
            = vxi11 ? QStringLiteral(", VXI-11 on port %1").arg(vxi11->port()) : QString();
    const QString overHislip
            = hislip ? QStringLiteral(", HiSLIP on port %1").arg(hislipPort) : QString();
    std::fprintf(stderr, "kestrane-scpid: serving %s on %s port %d%s%s%s\n", qPrintable(served),
                 qPrintable(options->listenAddress.toString()), int(options->tcpPort),
                 qPrintable(overVxi11), qPrintable(overHislip), qPrintable(page));
    session.start();
    return app.exec();
}
