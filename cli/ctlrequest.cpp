#include "cli/ctlrequest.h"

#include "pulse/channelrecords.h"
#include "pulse/pulsesteps.h"
#include "session/recordoptions.h"

#include <QCommandLineParser>
#include <QDateTime>

#include <algorithm>
#include <climits>

namespace {

const char kProfileHelp[] = R"(
Commands:
  list                          the generators' ports: name and system location
  set CHANNEL DELAY_PS WIDTH_PS set one channel, rounded to 11 ps steps
  save                          make the generator keep its settings ("SAV")
  apply FILE [--save]           set the channels of a profile, then save if asked
  apply --setup NAME [--save]   the same with a setup kept in the record
  diagram FILE [-o SVG]         draw the timing apply would set, as an SVG
                                picture on stdout or in the file SVG; no device
  journal                       the record's journal of frames sent; no device
                                (--since, --channel, --limit, --json)
  label CHANNEL TEXT            the channel's label in the record ("" clears)
  setup list|show NAME|save NAME FILE|delete NAME
                                setups kept in the record: a profile's channels
                                and labels under a name

A profile is a regular file of at most 1 MiB with one channel a line:
channel (1 to 16), delay and width in ps (0 to 5621), and a label in double
quotes if wanted ("" inside stands for one quote; at most 32 printable
characters), which apply keeps in the record. "#" starts a comment; blank
lines are skipped; at least one channel is needed. The whole file is checked
before anything is sent. Times are rounded to 11 ps steps; where delay plus
width exceeds 511 steps the width gives way, with a warning. Example:

  # delay scan start, 2026-12-07
  1   0     1000    "pump"
  2   1000  2000    # rounds to 1001 and 2002 ps
  16  5621  0       "camera gate"

The record (see --record) keeps every frame sent by any Kestrane program on
this host: time (UTC), program, client, channel, times, frame, reply and
outcome. journal, label and setup use the generator named by --port or
--serial, else the one attached; journal without either shows every
generator's when none is attached. --since takes an ISO 8601 date or time
(2026-12-08T14:30, local time unless it ends in Z or an offset).

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

// "2026-12-08", "2026-12-08T14:30", "2026-12-08 14:30:05Z", "...+01:00".
Result<qint64> readTime(const QString &text)
{
    QString iso = text.trimmed();
    iso.replace(u' ', u'T');
    const QDateTime time = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!time.isValid())
        return Failure{QStringLiteral("--since takes an ISO 8601 date or time "
                                      "(2026-12-08T14:30), not \"%1\"")
                               .arg(text)};
    return time.toMSecsSinceEpoch();
}

struct CommandForm
{
    const char *name;
    CtlRequest::Command command;
    qsizetype arguments;
};

// The command's arguments, checked against its form.
Result<CtlRequest> withArguments(CtlRequest request, const QStringList &arguments)
{
    switch (request.command) {
    case CtlRequest::Apply:
    case CtlRequest::Diagram:
        request.profilePath = arguments.value(0);
        return request;
    case CtlRequest::Label: {
        const Result<int> channel = readNumber(arguments[0], 1, kChannelCount, "CHANNEL");
        if (!channel)
            return Failure{channel.error()};
        request.channel = channel.value();
        request.label = arguments[1];
        return request;
    }
    case CtlRequest::Setup: {
        const QString action = arguments.value(0);
        const std::pair<const char *, std::pair<CtlRequest::SetupAction, qsizetype>> actions[] = {
                {"list", {CtlRequest::ListSetups, 1}},
                {"show", {CtlRequest::ShowSetup, 2}},
                {"save", {CtlRequest::SaveSetup, 3}},
                {"delete", {CtlRequest::DeleteSetup, 2}},
        };
        for (const auto &[name, form] : actions) {
            if (action != QLatin1String(name))
                continue;
            if (arguments.size() != form.second)
                return Failure{QStringLiteral("setup %1 takes %2 argument(s), not %3")
                                       .arg(action)
                                       .arg(form.second - 1)
                                       .arg(arguments.size() - 1)};
            request.setupAction = form.first;
            request.setupName = arguments.value(1);
            request.profilePath = arguments.value(2);
            return request;
        }
        return Failure{
                QStringLiteral("setup takes list, show, save or delete, not \"%1\"").arg(action)};
    }
    case CtlRequest::Set:
        break;
    default:
        return request;
    }
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

// The request with its command and the command's arguments.
Result<CtlRequest> withCommand(CtlRequest request, const QStringList &words)
{
    // Setup's arguments depend on its action: at least one.
    const CommandForm forms[] = {
            {"list", CtlRequest::List, 0},       {"set", CtlRequest::Set, 3},
            {"save", CtlRequest::Save, 0},       {"apply", CtlRequest::Apply, 1},
            {"diagram", CtlRequest::Diagram, 1}, {"journal", CtlRequest::Journal, 0},
            {"label", CtlRequest::Label, 2},     {"setup", CtlRequest::Setup, -1},
    };
    const QString command = words.value(0);
    const QStringList arguments = words.mid(1);
    const auto form = std::find_if(std::begin(forms), std::end(forms), [&](const CommandForm &f) {
        return command == QLatin1String(f.name);
    });
    if (form == std::end(forms))
        return Failure{command.isEmpty() ? QStringLiteral("a command is needed")
                                         : QStringLiteral("unknown command \"%1\"").arg(command)};
    request.command = form->command;
    // apply takes a profile, or --setup instead.
    const qsizetype wanted = form->command == CtlRequest::Apply && !request.setupName.isEmpty()
                                     ? 0
                                     : form->arguments;
    if (wanted >= 0 && arguments.size() != wanted)
        return Failure{QStringLiteral("%1 takes %2 argument(s), not %3")
                               .arg(command)
                               .arg(wanted)
                               .arg(arguments.size())};
    if (wanted < 0 && arguments.isEmpty())
        return Failure{QStringLiteral("setup takes list, show, save or delete")};
    if (request.saveAfterApply && request.command != CtlRequest::Apply)
        return Failure{QStringLiteral("--save goes with apply")};
    if (!request.setupName.isEmpty() && request.command != CtlRequest::Apply)
        return Failure{QStringLiteral("--setup goes with apply")};
    if (!request.outputPath.isEmpty() && request.command != CtlRequest::Diagram)
        return Failure{QStringLiteral("--output goes with diagram")};
    return withArguments(request, arguments);
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
            {"serial", "The record's generator with this USB serial number.", "number"},
            {"setup", "With apply: the setup of this name from the record.", "name"},
            {"since", "With journal: entries from this time on.", "time"},
            {"channel", "With journal: this channel's entries only.", "n"},
            {"limit", "With journal: the last <n> entries only.", "n"},
            {"json", "With journal: one JSON object a line."},
    });
    addRecordOptions(parser);
    parser.addPositionalArgument(
            "command", "list, set, save, apply, diagram, journal, label or setup (see below).");
    if (!parser.parse(arguments))
        return Failure{parser.errorText()};

    CtlRequest request;
    request.portName = parser.value("port");
    request.serialNumber = parser.value("serial");
    request.setupName = parser.value("setup");
    if (parser.isSet("setup") && request.setupName.isEmpty())
        return Failure{QStringLiteral("--setup needs a setup's name")};
    request.json = parser.isSet("json");
    if (parser.isSet("since")) {
        const Result<qint64> since = readTime(parser.value("since"));
        if (!since)
            return Failure{since.error()};
        request.sinceMs = since.value();
    }
    if (parser.isSet("channel")) {
        const Result<int> channel
                = readNumber(parser.value("channel"), 1, kChannelCount, "--channel");
        if (!channel)
            return Failure{channel.error()};
        request.channel = channel.value();
    }
    if (parser.isSet("limit")) {
        const Result<int> limit = readNumber(parser.value("limit"), 1, INT_MAX, "--limit");
        if (!limit)
            return Failure{limit.error()};
        request.limit = limit.value();
    }
    const bool journalOption = parser.isSet("since") || parser.isSet("channel")
                               || parser.isSet("limit") || request.json;
    const Result<RecordSettings> record = recordSettingsFrom(parser);
    if (!record)
        return Failure{record.error()};
    request.record = record.value();
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
    Result<CtlRequest> complete = withCommand(request, parser.positionalArguments());
    if (complete && journalOption && complete->command != CtlRequest::Journal)
        return Failure{QStringLiteral("--since, --channel, --limit and --json go with journal")};
    return complete;
}

QString ctlHelpText(const QCommandLineParser &parser)
{
    return parser.helpText() + QLatin1String(kProfileHelp);
}
