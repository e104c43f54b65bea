#include "cli/ctloutput.h"
#include "cli/ctlrequest.h"
#include "cli/diagramcommand.h"
#include "cli/frameplan.h"

#include "common/program.h"
#include "device/exchange.h"
#include "device/portdiscovery.h"
#include "device/portopening.h"
#include "pulse/channelrecords.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QSerialPort>

#include <cstdio>

namespace {

// The reply as the window logs it: UTF-8, quoted, special characters escaped.
QString quoted(const QByteArray &reply)
{
    QString text;
    QDebug(&text).nospace() << QString::fromUtf8(reply);
    return text;
}

int listPorts()
{
    for (const PortDescription &port : generatorPorts(systemPorts())) {
        const Result<void> printed = printOutput(port.portName + u'\t' + port.systemLocation);
        if (!printed)
            return fail(kExitFailure, printed.error());
    }
    return 0;
}

// One line a frame on stdout, printed once its exchange is over; the run
// stops at the first frame that fails.
int sendFrames(QSerialPort &port, const QList<PlannedFrame> &frames, int replyTimeoutMs)
{
    for (qsizetype index = 0; index < frames.size(); ++index) {
        const PlannedFrame &planned = frames[index];
        const QString name = QStringLiteral("frame %1 of %2 (%3)")
                                     .arg(index + 1)
                                     .arg(frames.size())
                                     .arg(QString::fromLatin1(planned.frame));
        const Result<QByteArray> unrequested = takeUnrequestedBytes(port);
        if (!unrequested)
            return fail(kExitFailure, QStringLiteral("%1: not sent: the port failed: %2")
                                              .arg(name, unrequested.error()));
        if (!unrequested->isEmpty())
            printLine(stderr, QStringLiteral("kestrane-ctl: before %1: unrequested bytes %2")
                                      .arg(name, quoted(unrequested.value())));
        const Result<FrameReply> reply = exchangeFrameForReply(port, planned.frame, replyTimeoutMs);
        if (!reply)
            return fail(kExitFailure, QStringLiteral("%1: %2").arg(name, reply.error()));
        const Result<void> printed
                = printOutput(planned.fields + QStringLiteral(" answer=") + quoted(reply->bytes));
        if (!printed)
            return fail(kExitFailure, printed.error());
        if (!reply->complete && !reply->bytes.isEmpty())
            return fail(kExitFailure,
                        QStringLiteral("%1: the reply did not end in a line feed within %2 ms")
                                .arg(name)
                                .arg(replyTimeoutMs));
    }
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
    case CtlRequest::Diagram:
        break;
    }
    return QList<PlannedFrame>();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    setProgramIdentity(QStringLiteral("kestrane-ctl"));

    QCommandLineParser parser;
    const Result<CtlRequest> request = parseCtlRequest(parser, app.arguments());
    if (const std::optional<int> exitCode
        = commandLineExit(parser, request.error(), ctlHelpText(parser)))
        return *exitCode;
    if (request->command == CtlRequest::List)
        return listPorts();
    if (request->command == CtlRequest::Diagram)
        return drawProfileDiagram(request.value());

    const Result<QList<PlannedFrame>> frames = plan(request.value());
    if (!frames)
        return fail(kExitUsage, frames.error());
    for (const PlannedFrame &planned : frames.value()) {
        if (!planned.warning.isEmpty())
            warn(planned.warning);
    }
    if (request->dryRun) {
        for (const PlannedFrame &planned : frames.value()) {
            const Result<void> printed = printOutput(planned.fields);
            if (!printed)
                return fail(kExitFailure, printed.error());
        }
        return 0;
    }

    const Result<PortDescription> chosen = chooseGeneratorPort(request->portName, systemPorts());
    if (!chosen)
        return fail(kExitFailure, chosen.error());
    QSerialPort port;
    if (const Result<void> opened = openGeneratorPort(port, chosen->portName); !opened)
        return fail(kExitFailure,
                    QStringLiteral("cannot open %1: %2").arg(chosen->portName, opened.error()));
    return sendFrames(port, frames.value(), request->replyTimeoutMs);
}
