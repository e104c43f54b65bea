#ifndef GENERATORSTATE_H
#define GENERATORSTATE_H

#include "common/result.h"
#include "pulse/channelrecords.h"
#include "pulse/pulsesteps.h"

#include <QByteArray>
#include <QString>

#include <array>

// The generator's 16 channels, delay and width in 11 ps steps.
class GeneratorState
{
public:
    // Applies a set frame of eight digits for channel 1 to 16 whose delay
    // plus width fits the budget; anything else changes nothing.
    bool applySetFrame(const QByteArray &frame);

    PulseSteps channel(int number) const { return channels.at(std::size_t(number - 1)); }

    // The state file: one "channel delay width" line per channel.
    QByteArray toText() const;
    // Errors name the source and line: "SOURCE:LINE: reason".
    static Result<GeneratorState> fromText(const QString &source, const QString &text);
    // A state file that does not exist is a generator that has never
    // saved: all channels 0. One that exists must be a regular file.
    static Result<GeneratorState> load(const QString &path);

    // Replaces the file whole (through a symbolic link), keeping its owner,
    // or leaves the old one untouched. Only an absent or regular file is
    // replaced.
    Result<void> save(const QString &path) const;

    // For people reading the simulator's log.
    QString table() const;

private:
    std::array<PulseSteps, kChannelCount> channels{};
};

#endif // GENERATORSTATE_H
