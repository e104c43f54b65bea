#include "scpid/scpidoptions.h"

#include "common/program.h"
#include "session/recordoptions.h"

#include <QCommandLineParser>

Result<ScpidOptions> parseScpidOptions(QCommandLineParser &parser, const QStringList &arguments)
{
    constexpr int kMaxClientsLimit = 1000;
    constexpr int kMaxReplyTimeoutMs = 10000;

    parser.setApplicationDescription(QStringLiteral(
            "Serves a pulse generator as a SCPI instrument over VXI-11 (VISA resource\n"
            "TCPIP::host::INSTR, found through the portmapper, rpcbind), over HiSLIP\n"
            "(TCPIP::host::hislip0::INSTR) and on a raw TCP socket\n"
            "(TCPIP::host::5025::SOCKET). It listens on 127.0.0.1 only unless --listen\n"
            "names another address; there is no authentication, so serve a network (--listen\n"
            "0.0.0.0 or a lab address) only where everyone who can reach it may drive the\n"
            "generator. A read-only status page is served over HTTP on the same address, and\n"
            "the services are announced on the local network (DNS-SD over mDNS) through\n"
            "avahi-daemon."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
            {"port", "Serve the generator on serial port <path|name> (default: the one attached).",
             "path|name"},
            {"listen", "Listen on <address> (default 127.0.0.1).", "address"},
            {"tcp-port", "Listen on TCP port <n> (default 5025).", "n"},
            {"max-clients", "Serve at most <n> clients at once (default 8).", "n"},
            {"reply-timeout", "Wait at most <ms> for each reply of the generator (default 100).",
             "ms"},
            {"vxi11", "Serve VXI-11 as well (the default)."},
            {"no-vxi11", "Serve the raw socket only."},
            {"hislip-port", "Serve HiSLIP on TCP port <n> (default 4880).", "n"},
            {"no-hislip", "Do not serve HiSLIP."},
            {"http-port",
             "Serve the status page on TCP port <n> (default 8080, the usual HTTP port that "
             "needs no privileges; 0: no web server).",
             "n"},
            {"no-mdns", "Do not announce the services on the local network (mDNS)."},
            {"verbose", "Log frames, replies and the link's state to stderr, timestamped."},
    });
    addRecordOptions(parser, RestoreOption::With);

    if (const Result<void> parsed = parseOptionsOnly(parser, arguments); !parsed)
        return Failure{parsed.error()};

    ScpidOptions options;
    options.port = parser.value("port");
    if (parser.isSet("listen") && !options.listenAddress.setAddress(parser.value("listen")))
        return Failure{QStringLiteral("--listen takes an IP address, not \"%1\"")
                               .arg(parser.value("listen"))};
    const Result<int> tcpPort
            = boundedNumberOption(parser, "tcp-port", kDefaultScpiTcpPort, 1, 65535);
    const Result<int> maxClients
            = boundedNumberOption(parser, "max-clients", kDefaultMaxClients, 1, kMaxClientsLimit);
    const Result<int> replyTimeoutMs
            = boundedNumberOption(parser, "reply-timeout", kReplyTimeoutMs, 1, kMaxReplyTimeoutMs);
    const Result<int> httpPort
            = boundedNumberOption(parser, "http-port", kDefaultHttpPort, 0, 65535);
    const Result<int> hislipPort
            = boundedNumberOption(parser, "hislip-port", kHislipPort, 1, 65535);
    for (const Result<int> *number :
         {&tcpPort, &maxClients, &replyTimeoutMs, &httpPort, &hislipPort}) {
        if (!*number)
            return Failure{number->error()};
    }
    options.tcpPort = quint16(tcpPort.value());
    options.maxClients = maxClients.value();
    options.replyTimeoutMs = replyTimeoutMs.value();
    if (parser.isSet("vxi11") && parser.isSet("no-vxi11"))
        return Failure{QStringLiteral("--vxi11 and --no-vxi11 exclude each other")};
    options.vxi11 = !parser.isSet("no-vxi11");
    options.httpPort = quint16(httpPort.value());
    if (parser.isSet("hislip-port") && parser.isSet("no-hislip"))
        return Failure{QStringLiteral("--hislip-port and --no-hislip exclude each other")};
    options.hislip = !parser.isSet("no-hislip");
    options.hislipPort = quint16(hislipPort.value());
    options.mdns = !parser.isSet("no-mdns");
    options.verbose = parser.isSet("verbose");
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
