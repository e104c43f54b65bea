#ifndef COMMANDLINEEXIT_H
#define COMMANDLINEEXIT_H

class QCommandLineParser;
class QString;

// Acts on what a parsed command line asks before a program starts its work:
// --help and --version print their text and end it with exit code 0; a usage
// error (a non-empty `error`) goes to stderr with the usage and ends it with
// exit code 2. Returns only when the program should go on.
void endOnHelpVersionOrUsageError(QCommandLineParser &parser, const QString &error);

#endif // COMMANDLINEEXIT_H
