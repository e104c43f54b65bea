#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include "common/result.h"

#include <QStringList>

class QCommandLineParser;

// Reads the window's own options (with --help and --version, which the
// caller acts on) from what Qt's options left of the command line and
// returns the ports named with --port, in order.
Result<QStringList> namedPortsFromCommandLine(QCommandLineParser &parser,
                                              const QStringList &arguments);

#endif // COMMANDLINE_H
