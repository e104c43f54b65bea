#include "cli/ctlrequest.h"

#include "pulse/channelrecords.h"
#include "pulse/pulsesteps.h"

#include <QCommandLineParser>

namespace {

const char kProfileHelp[] = R"(
Commands:
  list                          the generators' ports: name and system location
  set CHANNEL DELAY_PS WIDTH_PS set one channel, rounded to 11 ps steps
  save                          make the generator keep its settings ("SAV")
  apply FILE [--save]           set the channels of a profile, then save if asked
  diagram FILE [-o SVG]         draw the timing apply would set, as an SVG
                                picture on stdout or in the file SVG; no device

A profile is a regular file of at most 1 MiB with one channel a line:
channel (1 to 16), delay and width in ps (0 to 5621). "#" starts a comment;
blank lines are skipped; at least one channel is needed. The whole file is
checked before anything is sent. Times are rounded to 11 ps steps; where
delay plus width exceeds 511 steps the width gives way, with a warning.
Example:

  # delay scan start, 2026-12-07
  1   0     1000
  2   1000  2000    # rounds to 1001 and 2002 ps
  16  5621  0

Output: one line a frame, "key=value" fields, the reply last as
answer="..." with its special characters escaped. After each frame the reply
is read until it ends in a line feed or --timeout passes (no reply at all
gives answer=""). Bytes that arrive before a frame is sent are reported on
stderr, never as its answer. --dry-run prints the frames without opening
any port.

Exit codes: 0 done; 1 device or output error (no generator, more than one,
port will not open, a frame not sent whole, the device hung up, a reply
that did not end in time, output that cannot be written): the run stops at
that frame, stderr names it, and frames not sent print nothing; 2 usage or
input error.
)";

constexpr int kMaxReplyTimeoutMs = 3600 * 1000;

Result<int> readNumber(const QString &text, int minimum, int maximum, const QString &what)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (ok && value >= minimum && value <= maximum)
        return value;
    return Failure{QStringLiteral("%1 must be a whole number from %2 to %3, not \"%4\"")
                           .arg(what)
                           .arg(minimum)
                           .arg(maximum)
                           .arg(text)};
}

// The request with its command and the command's arguments.
Result<CtlRequest> withCommand(CtlRequest request, const QStringList &words)
{
    const QString command = words.value(0);
    const QStringList arguments = words.mid(1);
    const bool takesProfile = command == "apply" || command == "diagram";
    const qsizetype wanted = command == "set" ? 3 : takesProfile ? 1 : 0;
    if (command == "list")
        request.command = CtlRequest::List;
    else if (command == "save")
        request.command = CtlRequest::Save;
    else if (command == "set")
        request.command = CtlRequest::Set;
    else if (command == "apply")
        request.command = CtlRequest::Apply;
    else if (command == "diagram")
        request.command = CtlRequest::Diagram;
    else
        return Failure{command.isEmpty() ? QStringLiteral("a command is needed")
                                         : QStringLiteral("unknown command \"%1\"").arg(command)};
    if (arguments.size() != wanted)
        return Failure{QStringLiteral("%1 takes %2 argument(s), not %3")
                               .arg(command)
                               .arg(wanted)
                               .arg(arguments.size())};
    if (request.saveAfterApply && request.command != CtlRequest::Apply)
        return Failure{QStringLiteral("--save goes with apply")};
    if (!request.outputPath.isEmpty() && request.command != CtlRequest::Diagram)
        return Failure{QStringLiteral("--output goes with diagram")};

    if (request.command == CtlRequest::Apply || request.command == CtlRequest::Diagram)
        request.profilePath = arguments.first();
    if (request.command != CtlRequest::Set)
        return request;
    const Result<int> channel = readNumber(arguments[0], 1, kChannelCount, "CHANNEL");
    const Result<int> delayPs = readNumber(arguments[1], 0, kMaxTimePs, "DELAY_PS");
    const Result<int> widthPs = readNumber(arguments[2], 0, kMaxTimePs, "WIDTH_PS");
    for (const Result<int> *number : {&channel, &delayPs, &widthPs}) {
        if (!*number)
            return Failure{number->error()};
    }
    request.channel = channel.value();
    request.delayPs = delayPs.value();
    request.widthPs = widthPs.value();
    return request;
}

} // namespace

Result<CtlRequest> parseCtlRequest(QCommandLineParser &parser, const QStringList &arguments)
{
    parser.setApplicationDescription(
            QStringLiteral("Sets up a Kestrane pulse generator from scripts."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
            {{"p", "port"}, "The port: a listed name or a device path.", "name"},
            {"dry-run", "Print the frames; open nothing, send nothing."},
            {"save", "With apply: save in the device afterwards."},
            {{"o", "output"}, "With diagram: write the picture to this file.", "file"},
            {"timeout",
             QStringLiteral("How long a frame's reply may take to end in a line feed "
                            "(default %1).")
                     .arg(kDefaultReplyTimeoutMs),
             "ms"},
    });
    parser.addPositionalArgument("command", "list, set, save, apply or diagram (see below).");
    if (!parser.parse(arguments))
        return Failure{parser.errorText()};

    CtlRequest request;
    request.portName = parser.value("port");
    request.dryRun = parser.isSet("dry-run");
    request.saveAfterApply = parser.isSet("save");
    request.outputPath = parser.value("output");
    if (parser.isSet("output") && request.outputPath.isEmpty())
        return Failure{QStringLiteral("--output needs a file name")};
    if (parser.isSet("timeout")) {
        const Result<int> timeout
                = readNumber(parser.value("timeout"), 1, kMaxReplyTimeoutMs, "--timeout");
        if (!timeout)
            return Failure{timeout.error()};
        request.replyTimeoutMs = timeout.value();
    }
    return withCommand(request, parser.positionalArguments());
}

QString ctlHelpText(const QCommandLineParser &parser)
{
    return parser.helpText() + QLatin1String(kProfileHelp);
}
