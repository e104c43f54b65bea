#include "simulator/simulatoroptions.h"

#include "common/program.h"

#include <QCommandLineParser>

namespace {

// Unset gives nothing; a set value must be a whole number of 0 or more.
Result<std::optional<int>> wholeNumber(const QCommandLineParser &parser, const QString &name)
{
    if (!parser.isSet(name))
        return std::optional<int>();
    bool ok = false;
    const int number = parser.value(name).toInt(&ok);
    if (ok && number >= 0)
        return std::optional<int>(number);
    return Failure{QStringLiteral("--%1 takes a whole number of 0 or more, not \"%2\"")
                           .arg(name, parser.value(name))};
}

} // namespace

Result<SimulatorOptions> parseSimulatorOptions(QCommandLineParser &parser,
                                               const QStringList &arguments)
{
    parser.setApplicationDescription(
            QStringLiteral("Simulates a 16-channel pulse generator on a pseudo-terminal (or a "
                           "serial port) and prints the path of its device end first."));
    parser.addHelpOption();
    parser.addVersionOption();
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
    if (const Result<void> parsed = parseOptionsOnly(parser, arguments); !parsed)
        return Failure{parsed.error()};
    if (parser.isSet("link") && parser.isSet("device"))
        return Failure{QStringLiteral("--link goes with a pseudo-terminal, not with --device")};

    SimulatorOptions options;
    options.linkPath = parser.value("link");
    options.devicePath = parser.value("device");
    options.statePath = parser.value("state");
    options.greeting = parser.value("greeting").toUtf8();
    options.silent = parser.isSet("silent");
    options.noise = parser.isSet("noise");
    options.verbose = parser.isSet("verbose");
    const Result<std::optional<int>> replyDelay = wholeNumber(parser, "reply-delay");
    const Result<std::optional<int>> split = wholeNumber(parser, "split");
    const Result<std::optional<int>> hangupAfter = wholeNumber(parser, "hangup-after");
    for (const Result<std::optional<int>> *number : {&replyDelay, &split, &hangupAfter}) {
        if (!*number)
            return Failure{number->error()};
    }
    options.replyDelayMs = replyDelay.value().value_or(0);
    options.splitMs = split.value();
    options.hangupAfterFrames = hangupAfter.value();
    return options;
}
