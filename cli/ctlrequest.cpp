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

A profile has one channel a line: channel (1 to 16), delay and width in ps
(0 to 5621). "#" starts a comment; blank lines are skipped. The whole file is
checked before anything is sent. Times are rounded to 11 ps steps; where
delay plus width exceeds 511 steps the width gives way, with a warning.
Example:

  # delay scan start, 2026-12-07
  1   0     1000
  2   1000  2000    # rounds to 1001 and 2002 ps
  16  5621  0

Output: one line a frame, "key=value" fields, the reply last as
answer="..." with its special characters escaped. --dry-run prints the
frames without opening any port.

Exit codes: 0 done, 1 device error (no generator, more than one, port will
not open), 2 usage or input error.
)";

QString usageError(const QString &error)
{
    return QStringLiteral("kestrane-ctl: %1\nTry 'kestrane-ctl --help'.\n").arg(error);
}

bool readNumber(const QString &text, int minimum, int maximum, const char *what, int *value,
                QString *error)
{
    bool ok = false;
    *value = text.toInt(&ok);
    if (ok && *value >= minimum && *value <= maximum)
        return true;
    *error = QStringLiteral("%1 must be a whole number from %2 to %3, not \"%4\"")
                     .arg(QLatin1String(what))
                     .arg(minimum)
                     .arg(maximum)
                     .arg(text);
    return false;
}

QString checkArguments(const QStringList &words, CtlRequest *request)
{
    const QString command = words.value(0);
    const QStringList arguments = words.mid(1);
    const qsizetype wanted = command == "set" ? 3 : command == "apply" ? 1 : 0;
    if (command == "list")
        request->command = CtlRequest::List;
    else if (command == "save")
        request->command = CtlRequest::Save;
    else if (command == "set")
        request->command = CtlRequest::Set;
    else if (command == "apply")
        request->command = CtlRequest::Apply;
    else
        return command.isEmpty() ? QStringLiteral("a command is needed")
                                 : QStringLiteral("unknown command \"%1\"").arg(command);
    if (arguments.size() != wanted)
        return QStringLiteral("%1 takes %2 argument(s), not %3")
                .arg(command)
                .arg(wanted)
                .arg(arguments.size());
    if (request->saveAfterApply && request->command != CtlRequest::Apply)
        return QStringLiteral("--save goes with apply");

    QString error;
    if (request->command == CtlRequest::Apply)
        request->profilePath = arguments.first();
    if (request->command == CtlRequest::Set
        && !(readNumber(arguments[0], 1, kChannelCount, "CHANNEL", &request->channel, &error)
             && readNumber(arguments[1], 0, kMaxTimePs, "DELAY_PS", &request->delayPs, &error)
             && readNumber(arguments[2], 0, kMaxTimePs, "WIDTH_PS", &request->widthPs, &error)))
        return error;
    return {};
}

} // namespace

std::optional<CtlRequest> parseCtlRequest(const QStringList &arguments, int *exitCode,
                                          QString *message)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
            QStringLiteral("Sets up a Kestrane pulse generator from scripts."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption port({"p", "port"}, "The port: a listed name or a device path.",
                                  "name");
    const QCommandLineOption dryRun("dry-run", "Print the frames; open nothing, send nothing.");
    const QCommandLineOption save("save", "With apply: save in the device afterwards.");
    parser.addOptions({port, dryRun, save});
    parser.addPositionalArgument("command", "list, set, save or apply (see below).");

    *exitCode = 2;
    if (!parser.parse(arguments)) {
        *message = usageError(parser.errorText());
        return std::nullopt;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        *exitCode = 0;
        *message = parser.isSet(help) ? parser.helpText() + QLatin1String(kProfileHelp)
                                      : QStringLiteral("kestrane-ctl " KESTRANE_VERSION "\n");
        return std::nullopt;
    }
    CtlRequest request;
    request.portName = parser.value(port);
    request.dryRun = parser.isSet(dryRun);
    request.saveAfterApply = parser.isSet(save);
    const QString error = checkArguments(parser.positionalArguments(), &request);
    if (!error.isEmpty()) {
        *message = usageError(error);
        return std::nullopt;
    }
    return request;
}
