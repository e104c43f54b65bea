#ifndef SIMULATOROPTIONS_H
#define SIMULATOROPTIONS_H

#include "common/result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

class QCommandLineParser;

struct SimulatorOptions
{
    QString linkPath;
    QString devicePath; // empty: a new pseudo-terminal
    QString statePath;
    QByteArray greeting;
    bool silent = false;
    bool noise = false;
    bool verbose = false;
    int replyDelayMs = 0;
    std::optional<int> splitMs;
    std::optional<int> hangupAfterFrames;
};

// Declares the simulator's options (with --help and --version, which the
// caller acts on) on the parser and reads the command line; the failure
// says what is wrong with it.
Result<SimulatorOptions> parseSimulatorOptions(QCommandLineParser &parser,
                                               const QStringList &arguments);

#endif // SIMULATOROPTIONS_H
