#ifndef JOURNALENTRY_H
#define JOURNALENTRY_H

#include "pulse/channelrecords.h"
#include "pulse/pulsesteps.h"

#include <QJsonObject>
#include <QString>

#include <array>
#include <optional>

// What became of a frame sent to the generator.
enum class FrameOutcome {
    Ok,      // answered in time, not refused
    Refused, // answered "ERR"
    NoReply, // no answer within the reply timeout, nor late
    Late,    // answered after the reply timeout, not refused
    Lost,    // the link, or the program that sent it, was lost before its answer
};

// "ok", "refused", "no reply", "late", "lost".
QString outcomeName(FrameOutcome outcome);
std::optional<FrameOutcome> outcomeNamed(const QString &name);
// Whether the generator may hold the frame's setting now: all but a refusal.
bool mayHoldSetting(FrameOutcome outcome);

// One frame sent to one generator, as the journal keeps it.
struct JournalEntry
{
    qint64 id = 0; // set once kept
    qint64 generator = 0;
    qint64 timeMs = 0; // when it was sent: ms since the epoch, UTC
    QString program;   // "kestrane-scpid"
    QString client;    // "socket 127.0.0.1:51234 connection 2", "tango", "restore"
    int channel = 0;   // 0 for a save
    std::optional<PulseSteps> steps;
    QString frame;
    QString reply; // escaped: "OK\\r\\n"
    FrameOutcome outcome = FrameOutcome::Lost;
};

// What the journal tells of a generator's settings: each channel's last
// setting that it did not refuse, and the settings as they stood at its
// last save that it did not refuse. Unknown where nothing tells.
struct GeneratorSettings
{
    std::array<std::optional<PulseSteps>, kChannelCount> last;
    std::array<std::optional<PulseSteps>, kChannelCount> saved;
};

// The settings once the frame's outcome is known: a set frame the
// generator may hold sets its channel's last setting, a save it may hold
// saves the last settings, a refused frame changes nothing.
void applyFrame(GeneratorSettings &settings, const JournalEntry &entry);

// "2026-12-08T14:32:05.123Z".
QString journalTime(qint64 timeMs);

// The entry for programs: time, program, client, channel, delayPs,
// widthPs, frame, reply and outcome (null channel and times for a save),
// and `generator` when it is named.
QJsonObject journalEntryJson(const JournalEntry &entry, const QString &generator = {});

#endif // JOURNALENTRY_H
