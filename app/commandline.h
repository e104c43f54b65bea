#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include "common/result.h"

#include <QStringList>

class QCommandLineParser;

// Reads the window's own options from what Qt's options left of the command
// line and returns the ports named with --port, in order. --help and
// --version print their text and end the program, as Qt's parser does.
Result<QStringList> namedPortsFromCommandLine(QCommandLineParser &parser,
                                              const QStringList &arguments);

#endif // COMMANDLINE_H
