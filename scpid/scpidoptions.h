#ifndef SCPIDOPTIONS_H
#define SCPIDOPTIONS_H

#include "device/exchange.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <optional>

constexpr quint16 kDefaultScpiTcpPort = 5025;
constexpr int kDefaultMaxClients = 8;

struct ScpidOptions
{
    QString port; // empty: the one generator attached
    QHostAddress listenAddress = QHostAddress(QHostAddress::LocalHost);
    quint16 tcpPort = kDefaultScpiTcpPort;
    int maxClients = kDefaultMaxClients;
    int replyTimeoutMs = kReplyTimeoutMs;
    bool verbose = false;
};

// Parses the command line. On --help or --version, *exitCode is 0 and the
// text to print is in *message; on a usage error it is 2 and *message says
// what is wrong, followed by the usage.
std::optional<ScpidOptions> parseScpidOptions(const QStringList &arguments, int *exitCode,
                                              QString *message);

#endif // SCPIDOPTIONS_H
