#ifndef CTLREQUEST_H
#define CTLREQUEST_H

#include "common/result.h"

#include <QString>
#include <QStringList>

class QCommandLineParser;

// How long a frame's reply may take to end in a line feed, by default.
constexpr int kDefaultReplyTimeoutMs = 1000;

// What one run of kestrane-ctl is asked to do.
struct CtlRequest
{
    enum Command { List, Set, Save, Apply, Diagram };
    Command command = List;
    QString portName; // empty: the one generator found
    bool dryRun = false;
    bool saveAfterApply = false;
    int replyTimeoutMs = kDefaultReplyTimeoutMs;
    int channel = 0;
    int delayPs = 0;
    int widthPs = 0;
    QString profilePath;
    QString outputPath; // diagram: the file to write; empty: stdout
};

// Declares the tool's options (with --help and --version, which the caller
// acts on) on the parser and reads the command line; the failure says what
// is wrong with it.
Result<CtlRequest> parseCtlRequest(QCommandLineParser &parser, const QStringList &arguments);

// The parser's help followed by the commands, the profile format, the
// output and the exit codes.
QString ctlHelpText(const QCommandLineParser &parser);

#endif // CTLREQUEST_H
