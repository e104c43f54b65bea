#include "cli/ctlrequest.h"
#include "cli/frameplan.h"

#include "device/exchange.h"
#include "device/linksettings.h"
#include "device/portdiscovery.h"
#include "pulse/channelrecords.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QSerialPort>

#include <cstdio>

namespace {

constexpr int kExitDeviceError = 1;
constexpr int kExitInputError = 2;

void printLine(std::FILE *stream, const QString &line)
{
    std::fprintf(stream, "%s\n", qPrintable(line));
}

int fail(int exitCode, const QString &message)
{
    printLine(stderr, QStringLiteral("kestrane-ctl: ") + message);
    return exitCode;
}

// The reply as the window logs it: UTF-8, quoted, special characters escaped.
QString quoted(const QByteArray &reply)
{
    QString text;
    QDebug(&text).nospace() << QString::fromUtf8(reply);
    return text;
}

Result<QString> choosePort(const QString &requested)
{
    if (!requested.isEmpty())
        return requested;
    const QList<PortDescription> found = generatorPorts(systemPorts());
    if (found.size() == 1)
        return found.first().portName;
    if (found.isEmpty())
        return Failure{
                QStringLiteral("no generator found (USB id 0483:5740); name a port with --port")};
    QStringList names;
    for (const PortDescription &port : found)
        names.append(port.portName);
    return Failure{QStringLiteral("%1 generators found (%2); pick one with --port")
                           .arg(found.size())
                           .arg(names.join(QStringLiteral(", ")))};
}

int listPorts()
{
    for (const PortDescription &port : generatorPorts(systemPorts()))
        printLine(stdout, port.portName + u'\t' + port.systemLocation);
    return 0;
}

Result<QList<PlannedFrame>> plan(const CtlRequest &request)
{
    switch (request.command) {
    case CtlRequest::Set:
        return QList<PlannedFrame>{planSetFrame(request.channel, request.delayPs, request.widthPs,
                                                QStringLiteral("set"))};
    case CtlRequest::Save:
        return QList<PlannedFrame>{planSaveFrame()};
    case CtlRequest::Apply: {
        const Result<QString> profile = readChannelFile(request.profilePath);
        if (!profile)
            return Failure{profile.error()};
        Result<QList<PlannedFrame>> frames = planProfile(request.profilePath, profile.value());
        if (frames && request.saveAfterApply)
            frames->append(planSaveFrame());
        return frames;
    }
    case CtlRequest::List:
        break;
    }
    return QList<PlannedFrame>();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    QCoreApplication::setApplicationName(QStringLiteral("kestrane-ctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KESTRANE_VERSION));

    QCommandLineParser parser;
    const Result<CtlRequest> request = parseCtlRequest(parser, app.arguments());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(ctlHelpText(parser)), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!request) {
        std::fprintf(stderr, "kestrane-ctl: %s\nTry 'kestrane-ctl --help'.\n",
                     qPrintable(request.error()));
        return kExitInputError;
    }
    if (request->command == CtlRequest::List)
        return listPorts();

    const Result<QList<PlannedFrame>> frames = plan(request.value());
    if (!frames)
        return fail(kExitInputError, frames.error());
    for (const PlannedFrame &planned : frames.value()) {
        if (!planned.warning.isEmpty())
            printLine(stderr, QStringLiteral("kestrane-ctl: warning: ") + planned.warning);
    }
    if (request->dryRun) {
        for (const PlannedFrame &planned : frames.value())
            printLine(stdout, planned.fields);
        return 0;
    }

    const Result<QString> portName = choosePort(request->portName);
    if (!portName)
        return fail(kExitDeviceError, portName.error());
    QSerialPort port;
    applyLinkSettings(port, portName.value());
    if (!port.open(QIODevice::ReadWrite))
        return fail(kExitDeviceError,
                    QStringLiteral("cannot open %1: %2").arg(portName.value(), port.errorString()));
    for (const PlannedFrame &planned : frames.value()) {
        const QByteArray reply = transferFrame(port, planned.frame);
        printLine(stdout, planned.fields + QStringLiteral(" answer=") + quoted(reply));
        std::fflush(stdout);
    }
    return 0;
}
