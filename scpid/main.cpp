#include "common/commandlineexit.h"
#include "common/terminationsignals.h"
#include "scpid/scpidoptions.h"
#include "scpid/scpiserver.h"
#include "session/generatorsession.h"
#include "session/requestedport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsageError = 2;

void report(const QString &message)
{
    std::fprintf(stderr, "kestrane-scpid: %s\n", qPrintable(message));
}

int fail(int exitCode, const QString &message)
{
    report(message);
    return exitCode;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kestrane-scpid"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KESTRANE_VERSION));

    QCommandLineParser parser;
    const Result<ScpidOptions> options = parseScpidOptions(parser, app.arguments());
    endOnHelpVersionOrUsageError(parser, options.error());
    qSetMessagePattern(
            QStringLiteral("kestrane-scpid: %{time yyyy-MM-ddThh:mm:ss.zzz} %{message}"));
    QLoggingCategory::setFilterRules(options->verbose ? QStringLiteral("kestrane.*.debug=true")
                                                      : QStringLiteral("kestrane.*.debug=false"));

    if (options->port.isEmpty()) {
        const Result<void> single = checkSingleGenerator(systemPorts());
        if (!single)
            return fail(kExitUsageError, single.error());
    } else if (const Result<void> usable = checkRequestedPort(options->port); !usable) {
        return fail(kExitFailure, usable.error());
    }
    if (!quitOnTerminationSignals(app))
        return fail(kExitFailure, QStringLiteral("cannot watch for termination signals"));

    GeneratorSession session(options->port);
    session.setReplyTimeoutMs(options->replyTimeoutMs);
    ScpiServer server(session, options->maxClients);
    if (const Result<void> listening = server.listen(options->listenAddress, options->tcpPort);
        !listening)
        return fail(kExitFailure, listening.error());
    report(QStringLiteral("serving %1 on %2 port %3")
                   .arg(options->port.isEmpty() ? QStringLiteral("the generator attached")
                                                : options->port,
                        options->listenAddress.toString())
                   .arg(options->tcpPort));
    session.start();
    return app.exec();
}
