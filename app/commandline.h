#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include "common/result.h"
#include "session/generatorrecord.h"

#include <QStringList>

class QCommandLineParser;

struct WindowOptions
{
    QStringList namedPorts; // named with --port, in order
    RecordSettings record;
};

// Reads the window's own options (with --help and --version, which the
// caller acts on) from what Qt's options left of the command line.
Result<WindowOptions> windowOptionsFromCommandLine(QCommandLineParser &parser,
                                                   const QStringList &arguments);

#endif // COMMANDLINE_H
