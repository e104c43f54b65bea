#ifndef SIMULATOROPTIONS_H
#define SIMULATOROPTIONS_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

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

// Parses the command line. On --help or --version, *exitCode is 0 and the
// text to print is in *message; on a usage error it is 2 and *message says
// what is wrong, followed by the usage.
std::optional<SimulatorOptions> parseSimulatorOptions(const QStringList &arguments, int *exitCode,
                                                      QString *message);

#endif // SIMULATOROPTIONS_H
