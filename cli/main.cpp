#include "cli/ctloutput.h"
#include "cli/ctlrequest.h"
#include "cli/diagramcommand.h"
#include "cli/frameplan.h"
#include "cli/recordcommands.h"

#include "common/program.h"
#include "device/commandframes.h"
#include "device/exchange.h"
#include "device/portdiscovery.h"
#include "device/portopening.h"
#include "pulse/channelrecords.h"
#include "session/generatorrecord.h"

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

// What became of a frame, for the record's journal.
FrameOutcome outcomeOf(const Result<FrameReply> &reply)
{
    if (!reply)
        return FrameOutcome::Lost;
    return reply->complete ? outcomeOfReply(reply->bytes) : FrameOutcome::NoReply;
}

// One line a frame on stdout, printed once its exchange is over; the run
// stops at the first frame that fails. Each frame goes to the record's
// journal, and its label, when it has one, to the record.
int sendFrames(QSerialPort &port, const QList<PlannedFrame> &frames, int replyTimeoutMs,
               GeneratorRecord &record)
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
        const qint64 ticket = record.frameSent(QStringLiteral("ctl"), planned.frame,
                                               planned.channel, planned.steps);
        const Result<FrameReply> reply = exchangeFrameForReply(port, planned.frame, replyTimeoutMs);
        record.frameSettled(ticket, reply ? reply->bytes : QByteArray(), outcomeOf(reply));
        if (!reply)
            return fail(kExitFailure, QStringLiteral("%1: %2").arg(name, reply.error()));
        if (planned.label && !isRefusal(reply->bytes)) {
            if (const Result<void> kept = record.setLabel(planned.channel, *planned.label); !kept)
                warn(QStringLiteral("%1: the label is not kept: %2").arg(name, kept.error()));
        }
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

// A profile's frames, or a setup's from the record.
Result<QList<PlannedFrame>> planApply(const CtlRequest &request)
{
    if (request.setupName.isEmpty()) {
        const Result<QString> profile = readChannelFile(request.profilePath);
        if (!profile)
            return Failure{profile.error()};
        return planProfile(request.profilePath, profile.value());
    }
    const Result<std::optional<GeneratorKey>> generator = recordGenerator(request);
    if (!generator || !generator.value())
        return Failure{generator ? QStringLiteral("no generator attached") : generator.error()};
    GeneratorRecord record(request.record);
    record.setGenerator(*generator.value());
    const Result<std::optional<Setup>> setup = record.setup(request.setupName);
    if (!setup)
        return Failure{setup.error()};
    if (!setup.value())
        return Failure{QStringLiteral("no setup \"%1\"").arg(request.setupName)};
    return planSetup(*setup.value());
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
        Result<QList<PlannedFrame>> frames = planApply(request);
        if (frames && request.saveAfterApply)
            frames->append(planSaveFrame());
        return frames;
    }
    default:
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
    if (request->command == CtlRequest::Journal)
        return printJournal(request.value());
    if (request->command == CtlRequest::Label)
        return labelChannel(request.value());
    if (request->command == CtlRequest::Setup)
        return useSetups(request.value());

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
    GeneratorRecord record(request->record);
    record.setGenerator({chosen->serialNumber, chosen->portName});
    return sendFrames(port, frames.value(), request->replyTimeoutMs, record);
}
