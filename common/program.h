#ifndef PROGRAM_H
#define PROGRAM_H

#include "common/result.h"

#include <QString>
#include <QStringList>

#include <optional>

class QCommandLineParser;

// Exit codes every program shares.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1; // the device, the link, a file or the output failed
constexpr int kExitUsage = 2;   // the command line or an input file is wrong

// Names the application after the program and gives it the project's version.
void setProgramIdentity(const QString &name);

// "NAME: message" on stderr, NAME being the application's; returns exitCode.
int fail(int exitCode, const QString &message);

// What the parsed command line asks before the program's work: --help prints
// helpText (the parser's own when empty) and --version the name and version,
// both for kExitSuccess; a usage error (a non-empty `error`) is reported with
// a pointer to --help, for kExitUsage. Empty when the program should go on.
std::optional<int> commandLineExit(const QCommandLineParser &parser, const QString &error,
                                   const QString &helpText = {});

// Parses the command line of a program that takes options only: the
// parser's error, or the first argument that is not an option.
Result<void> parseOptionsOnly(QCommandLineParser &parser, const QStringList &arguments);

// The option's value when it is a whole number from minimum to maximum; the
// fallback when it is not set. The failure names the option and the range.
Result<int> boundedNumberOption(const QCommandLineParser &parser, const QString &name, int fallback,
                                int minimum, int maximum);

#endif // PROGRAM_H
