#include "simulator/simulatoroptions.h"

#include <QCommandLineParser>

namespace {

// Unset gives nothing; a value that is not a whole number of 0 or more sets
// *error, unless an earlier option did.
std::optional<int> wholeNumber(const QCommandLineParser &parser, const QString &name,
                               QString *error)
{
    if (!parser.isSet(name))
        return std::nullopt;
    bool ok = false;
    const int number = parser.value(name).toInt(&ok);
    if (ok && number >= 0)
        return number;
    if (error->isEmpty())
        *error = QStringLiteral("--%1 takes a whole number of 0 or more, not \"%2\"")
                         .arg(name, parser.value(name));
    return std::nullopt;
}

} // namespace

std::optional<SimulatorOptions> parseSimulatorOptions(const QStringList &arguments, int *exitCode,
                                                      QString *message)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
            QStringLiteral("Simulates a 16-channel pulse generator on a pseudo-terminal (or a "
                           "serial port) and prints the path of its device end first."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOptions({
            {"link", "Also make a symbolic link <path> to the device end.", "path"},
            {"device", "Serve the existing serial port <path> (500000 baud, 8N1).", "path"},
            {"state", "Load the channels from <file> and write them there on \"SAV\".", "file"},
            {"silent", "Take frames but never answer."},
            {"reply-delay", "Answer <ms> milliseconds late.", "ms"},
            {"split", "Send each reply in two writes <ms> milliseconds apart.", "ms"},
            {"noise", "Precede each reply with invalid UTF-8 and a terminal escape sequence."},
            {"greeting", "Send <text> once at start, before any command.", "text"},
            {"hangup-after", "Hang up, as an unplugged device, after answering <n> frames.", "n"},
            {"verbose", "Log frames, replies and the channel table to stderr."},
    });

    *exitCode = 2;
    if (!parser.parse(arguments)) {
        *message = parser.errorText() + u'\n' + parser.helpText();
        return std::nullopt;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        *exitCode = 0;
        *message = parser.isSet(help) ? parser.helpText()
                                      : QStringLiteral("kestrane-sim " KESTRANE_VERSION "\n");
        return std::nullopt;
    }
    QString error;
    if (!parser.positionalArguments().isEmpty())
        error = QStringLiteral("unexpected argument \"%1\"")
                        .arg(parser.positionalArguments().first());
    else if (parser.isSet("link") && parser.isSet("device"))
        error = QStringLiteral("--link goes with a pseudo-terminal, not with --device");

    SimulatorOptions options;
    options.linkPath = parser.value("link");
    options.devicePath = parser.value("device");
    options.statePath = parser.value("state");
    options.greeting = parser.value("greeting").toUtf8();
    options.silent = parser.isSet("silent");
    options.noise = parser.isSet("noise");
    options.verbose = parser.isSet("verbose");
    options.replyDelayMs = wholeNumber(parser, "reply-delay", &error).value_or(0);
    options.splitMs = wholeNumber(parser, "split", &error);
    options.hangupAfterFrames = wholeNumber(parser, "hangup-after", &error);
    if (!error.isEmpty()) {
        *message = error + u'\n' + parser.helpText();
        return std::nullopt;
    }
    return options;
}
