#ifndef PROCESSVARIABLES_H
#define PROCESSVARIABLES_H

#include "pulse/channelrecords.h"
#include "session/sessioncalls.h"

#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace epics::pvData {
class BitSet;
class PVStructure;
} // namespace epics::pvData

// What the process variables show: the session's knowledge at one moment.
struct GeneratorView
{
    LinkView link;
    std::array<std::optional<PulseSteps>, kChannelCount> channels;
    std::array<QString, kChannelCount> labels; // empty while the record has none
};

// Read on the session's thread.
GeneratorView viewOf(GeneratorSession &session);

// One row of the table of process variables. A channel's row stands for one
// variable per channel, named "<prefix>CHNN:<name>"; the generator's for one,
// "<prefix><name>". The functions are called with the channel (0 for the
// generator's) and never keep what they are handed.
struct ProcessVariable
{
    const char *name;
    bool perChannel;
    // Its structure, with what never changes filled in (units, limits,
    // choices).
    std::shared_ptr<epics::pvData::PVStructure> (*make)(int channel);
    // Fills in what it shows of the view and marks the fields it set.
    void (*show)(epics::pvData::PVStructure &value, epics::pvData::BitSet &changed,
                 const GeneratorView &view, int channel);
    // Carries out a client's put through the session; the refusal, for
    // people, or empty when done. Null for a variable clients only read.
    QString (*put)(SessionCalls &calls, int channel, const epics::pvData::PVStructure &value,
                   const epics::pvData::BitSet &changed);
};

const std::vector<ProcessVariable> &processVariables();

QString processVariableName(const QString &prefix, const ProcessVariable &variable, int channel);

#endif // PROCESSVARIABLES_H
