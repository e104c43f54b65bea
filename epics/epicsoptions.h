#ifndef EPICSOPTIONS_H
#define EPICSOPTIONS_H

#include "common/result.h"
#include "device/exchange.h"
#include "session/generatorrecord.h"

#include <QString>
#include <QStringList>

class QCommandLineParser;

struct EpicsOptions
{
    QString port; // empty: the one generator attached
    QString prefix = QStringLiteral("KESTRANE:");
    QString listenAddress = QStringLiteral("127.0.0.1"); // an IPv4 address
    int replyTimeoutMs = kReplyTimeoutMs;
    RecordSettings record;
    RestoreMode restore = RestoreMode::None;
};

// Declares the server's options (with --help and --version, which the caller
// acts on) on the parser and reads the command line; the failure says what
// is wrong with it.
Result<EpicsOptions> parseEpicsOptions(QCommandLineParser &parser, const QStringList &arguments);

#endif // EPICSOPTIONS_H
