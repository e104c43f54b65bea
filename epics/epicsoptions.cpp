#include "epics/epicsoptions.h"

#include "common/program.h"
#include "session/recordoptions.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace {

constexpr int kMaxReplyTimeoutMs = 10000;

// The characters EPICS allows in a record name, and a length that leaves
// room for the longest name after it ("CH16:TIMING").
bool isValidPrefix(const QString &prefix)
{
    static const QRegularExpression allowed(QStringLiteral(R"(^[A-Za-z0-9_\-+:\[\]<>;.]{0,48}$)"));
    return allowed.match(prefix).hasMatch();
}

bool isIpv4Address(const QString &address)
{
    in_addr parsed{};
    return ::inet_pton(AF_INET, address.toLatin1().constData(), &parsed) == 1;
}

} // namespace

Result<EpicsOptions> parseEpicsOptions(QCommandLineParser &parser, const QStringList &arguments)
{
    parser.setApplicationDescription(QStringLiteral(
            "Serves a pulse generator as EPICS process variables over PVAccess: each\n"
            "channel's delay, width, timing and label, SAVE, RESET and the link, for pvget,\n"
            "pvput, pvmonitor, operator screens and archivers. It serves and sends its\n"
            "beacons on 127.0.0.1 only unless --listen names another address; there is no\n"
            "authentication, so serve a network only where everyone who can reach it may\n"
            "drive the generator. EPICS reads its other settings (ports, beacon addresses\n"
            "when listening on a network) from the EPICS_PVAS_* environment variables."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
            {"port", "Serve the generator on serial port <path|name> (default: the one attached).",
             "path|name"},
            {"prefix", "Start every process variable's name with <text> (default KESTRANE:).",
             "text"},
            {"listen", "Serve on the interface of IPv4 <address> (default 127.0.0.1).", "address"},
            {"reply-timeout", "Wait at most <ms> for each reply of the generator (default 100).",
             "ms"},
    });
    addRecordOptions(parser, RestoreOption::With);

    if (const Result<void> parsed = parseOptionsOnly(parser, arguments); !parsed)
        return Failure{parsed.error()};

    EpicsOptions options;
    options.port = parser.value("port");
    if (parser.isSet("prefix")) {
        options.prefix = parser.value("prefix");
        if (!isValidPrefix(options.prefix))
            return Failure{QStringLiteral("--prefix takes at most 48 of the characters EPICS "
                                          "allows in a name (letters, digits, _-+:[]<>;.), not "
                                          "\"%1\"")
                                   .arg(options.prefix)};
    }
    if (parser.isSet("listen")) {
        options.listenAddress = parser.value("listen");
        if (!isIpv4Address(options.listenAddress))
            return Failure{QStringLiteral("--listen takes an IPv4 address, not \"%1\"")
                                   .arg(options.listenAddress)};
    }
    const Result<int> replyTimeoutMs
            = boundedNumberOption(parser, "reply-timeout", kReplyTimeoutMs, 1, kMaxReplyTimeoutMs);
    if (!replyTimeoutMs)
        return Failure{replyTimeoutMs.error()};
    options.replyTimeoutMs = replyTimeoutMs.value();
    const Result<RecordSettings> record = recordSettingsFrom(parser);
    if (!record)
        return Failure{record.error()};
    options.record = record.value();
    const Result<RestoreMode> restore = restoreModeFrom(parser);
    if (!restore)
        return Failure{restore.error()};
    options.restore = restore.value();
    return options;
}
