#include "cli/ctlrequest.h"
#include "cli/frameplan.h"

#include "device/exchange.h"
#include "device/linksettings.h"
#include "device/portdiscovery.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
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

QString choosePort(const QString &requested, QString *error)
{
    if (!requested.isEmpty())
        return requested;
    const QList<PortDescription> found = generatorPorts(systemPorts());
    if (found.size() == 1)
        return found.first().portName;
    if (found.isEmpty()) {
        *error = QStringLiteral("no generator found (USB id 0483:5740); name a port with --port");
        return {};
    }
    QStringList names;
    for (const PortDescription &port : found)
        names.append(port.portName);
    *error = QStringLiteral("%1 generators found (%2); pick one with --port")
                     .arg(found.size())
                     .arg(names.join(QStringLiteral(", ")));
    return {};
}

int listPorts()
{
    for (const PortDescription &port : generatorPorts(systemPorts()))
        printLine(stdout, port.portName + u'\t' + port.systemLocation);
    return 0;
}

FramePlan plan(const CtlRequest &request)
{
    FramePlan plan;
    switch (request.command) {
    case CtlRequest::Set:
        plan.frames.append(planSetFrame(request.channel, request.delayPs, request.widthPs,
                                        QStringLiteral("set"), &plan.warnings));
        break;
    case CtlRequest::Save:
        plan.frames.append(planSaveFrame());
        break;
    case CtlRequest::Apply: {
        QFile profile(request.profilePath);
        if (!profile.open(QIODevice::ReadOnly | QIODevice::Text)) {
            plan.error = QStringLiteral("%1: %2").arg(request.profilePath, profile.errorString());
            break;
        }
        plan = planProfile(request.profilePath, QString::fromUtf8(profile.readAll()));
        if (plan.error.isEmpty() && request.saveAfterApply)
            plan.frames.append(planSaveFrame());
        break;
    }
    case CtlRequest::List:
        break;
    }
    return plan;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    int exitCode = 0;
    QString message;
    const std::optional<CtlRequest> request = parseCtlRequest(app.arguments(), &exitCode, &message);
    if (!request) {
        std::fputs(qPrintable(message), exitCode == 0 ? stdout : stderr);
        return exitCode;
    }
    if (request->command == CtlRequest::List)
        return listPorts();

    const FramePlan frames = plan(*request);
    if (!frames.error.isEmpty())
        return fail(kExitInputError, frames.error);
    for (const QString &warning : frames.warnings)
        printLine(stderr, QStringLiteral("kestrane-ctl: warning: ") + warning);
    if (request->dryRun) {
        for (const PlannedFrame &planned : frames.frames)
            printLine(stdout, planned.fields);
        return 0;
    }

    QString error;
    const QString portName = choosePort(request->portName, &error);
    if (portName.isEmpty())
        return fail(kExitDeviceError, error);
    QSerialPort port;
    applyLinkSettings(port, portName);
    if (!port.open(QIODevice::ReadWrite))
        return fail(kExitDeviceError,
                    QStringLiteral("cannot open %1: %2").arg(portName, port.errorString()));
    for (const PlannedFrame &planned : frames.frames) {
        const QByteArray reply = transferFrame(port, planned.frame);
        printLine(stdout, planned.fields + QStringLiteral(" answer=") + quoted(reply));
        std::fflush(stdout);
    }
    return 0;
}
