#ifndef GENERATORSTATE_H
#define GENERATORSTATE_H

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
    // An empty error means success; otherwise errorLine names the culprit.
    static GeneratorState fromText(const QString &text, int *errorLine, QString *error);

    // Replaces the file whole or leaves the old one untouched.
    bool save(const QString &path, QString *error) const;

    // For people reading the simulator's log.
    QString table() const;

private:
    std::array<PulseSteps, kChannelCount> channels{};
};

#endif // GENERATORSTATE_H
