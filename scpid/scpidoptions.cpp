#include "scpid/scpidoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

// The option's value when it is a whole number in [minimum, maximum];
// otherwise sets *error, unless an earlier option did.
int boundedNumber(const QCommandLineParser &parser, const QString &name, int fallback, int minimum,
                  int maximum, QString *error)
{
    if (!parser.isSet(name))
        return fallback;
    bool ok = false;
    const int number = parser.value(name).toInt(&ok);
    if (ok && number >= minimum && number <= maximum)
        return number;
    if (error->isEmpty())
        *error = QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                         .arg(name)
                         .arg(minimum)
                         .arg(maximum)
                         .arg(parser.value(name));
    return fallback;
}

} // namespace

std::optional<ScpidOptions> parseScpidOptions(const QStringList &arguments, int *exitCode,
                                              QString *message)
{
    constexpr int kMaxClientsLimit = 1000;
    constexpr int kMaxReplyTimeoutMs = 10000;

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Serves a pulse generator as a SCPI instrument on a raw TCP socket (VISA resource\n"
            "TCPIP::host::5025::SOCKET). It listens on 127.0.0.1 only unless --listen names\n"
            "another address; there is no authentication, so serve a network (--listen 0.0.0.0\n"
            "or a lab address) only where everyone who can reach it may drive the generator."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOptions({
            {"port", "Serve the generator on serial port <path|name> (default: the one attached).",
             "path|name"},
            {"listen", "Listen on <address> (default 127.0.0.1).", "address"},
            {"tcp-port", "Listen on TCP port <n> (default 5025).", "n"},
            {"max-clients", "Serve at most <n> clients at once (default 8).", "n"},
            {"reply-timeout", "Wait at most <ms> for each reply of the generator (default 100).",
             "ms"},
            {"verbose", "Log frames, replies and the link's state to stderr, timestamped."},
    });

    *exitCode = 2;
    if (!parser.parse(arguments)) {
        *message = parser.errorText() + u'\n' + parser.helpText();
        return std::nullopt;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        *exitCode = 0;
        *message = parser.isSet(help) ? parser.helpText()
                                      : QCoreApplication::applicationName() + u' '
                                                + QCoreApplication::applicationVersion() + u'\n';
        return std::nullopt;
    }
    QString error;
    if (!parser.positionalArguments().isEmpty())
        error = QStringLiteral("unexpected argument \"%1\"")
                        .arg(parser.positionalArguments().first());

    ScpidOptions options;
    options.port = parser.value("port");
    if (parser.isSet("listen") && !options.listenAddress.setAddress(parser.value("listen"))
        && error.isEmpty())
        error = QStringLiteral("--listen takes an IP address, not \"%1\"")
                        .arg(parser.value("listen"));
    options.tcpPort
            = quint16(boundedNumber(parser, "tcp-port", kDefaultScpiTcpPort, 1, 65535, &error));
    options.maxClients
            = boundedNumber(parser, "max-clients", kDefaultMaxClients, 1, kMaxClientsLimit, &error);
    options.replyTimeoutMs = boundedNumber(parser, "reply-timeout", kReplyTimeoutMs, 1,
                                           kMaxReplyTimeoutMs, &error);
    options.verbose = parser.isSet("verbose");
    if (!error.isEmpty()) {
        *message = error + u'\n' + parser.helpText();
        return std::nullopt;
    }
    return options;
}
