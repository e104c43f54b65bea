#ifndef SCPIDOPTIONS_H
#define SCPIDOPTIONS_H

#include "common/result.h"
#include "device/exchange.h"
#include "hislip/hislipmessage.h"
#include "session/generatorrecord.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

class QCommandLineParser;

constexpr quint16 kDefaultScpiTcpPort = 5025;
constexpr int kDefaultMaxClients = 8;
// The usual HTTP port for a server without privileges (80 needs root).
constexpr quint16 kDefaultHttpPort = 8080;

struct ScpidOptions
{
    QString port; // empty: the one generator attached
    QHostAddress listenAddress = QHostAddress(QHostAddress::LocalHost);
    quint16 tcpPort = kDefaultScpiTcpPort;
    int maxClients = kDefaultMaxClients;
    int replyTimeoutMs = kReplyTimeoutMs;
    bool vxi11 = true;
    bool hislip = true;
    quint16 hislipPort = kHislipPort;
    quint16 httpPort = kDefaultHttpPort; // 0: no web server
    bool mdns = true;                    // announce the services through avahi-daemon
    bool verbose = false;
    RecordSettings record;
    RestoreMode restore = RestoreMode::None;
};

// Declares the daemon's options (with --help and --version, which the caller
// acts on) on the parser and reads the command line; the failure says what
// is wrong with it.
Result<ScpidOptions> parseScpidOptions(QCommandLineParser &parser, const QStringList &arguments);

#endif // SCPIDOPTIONS_H
