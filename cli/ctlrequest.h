#ifndef CTLREQUEST_H
#define CTLREQUEST_H

#include "common/result.h"
#include "session/generatorrecord.h"

#include <QString>
#include <QStringList>

class QCommandLineParser;

// How long a frame's reply may take to end in a line feed, by default.
constexpr int kDefaultReplyTimeoutMs = 1000;

// What one run of kestrane-ctl is asked to do.
struct CtlRequest
{
    enum Command { List, Set, Save, Apply, Diagram, Journal, Label, Setup };
    enum SetupAction { ListSetups, ShowSetup, SaveSetup, DeleteSetup };
    Command command = List;
    QString portName;     // empty: the one generator found
    QString serialNumber; // the record's generator, named by --serial
    bool dryRun = false;
    bool saveAfterApply = false;
    int replyTimeoutMs = kDefaultReplyTimeoutMs;
    int channel = 0; // set, label; journal: 0 for every channel
    int delayPs = 0;
    int widthPs = 0;
    QString profilePath;
    QString outputPath; // diagram: the file to write; empty: stdout
    RecordSettings record;
    QString label;
    SetupAction setupAction = ListSetups;
    QString setupName;  // setup; apply --setup
    qint64 sinceMs = 0; // journal
    qint64 limit = 0;   // journal: 0 for every entry
    bool json = false;  // journal
};

// Declares the tool's options (with --help and --version, which the caller
// acts on) on the parser and reads the command line; the failure says what
// is wrong with it.
Result<CtlRequest> parseCtlRequest(QCommandLineParser &parser, const QStringList &arguments);

// The parser's help followed by the commands, the profile format, the
// output and the exit codes.
QString ctlHelpText(const QCommandLineParser &parser);

#endif // CTLREQUEST_H
