#ifndef FRAMEPLAN_H
#define FRAMEPLAN_H

#include "common/result.h"
#include "pulse/channelrecords.h"
#include "pulse/pulsesteps.h"
#include "record/recordstore.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// One frame to send, with what the user asked for in words.
struct PlannedFrame
{
    QByteArray frame;
    QString fields;  // "key=value" pairs, the frame last
    QString warning; // empty unless the width gave way to the budget
    int channel = 0; // 0 for a save
    std::optional<PulseSteps> steps = {};
    std::optional<QString> label = {}; // to keep in the record once sent
};

// One channel of a profile, with the label its line gives, if any.
struct ProfileChannel
{
    ChannelRecord record;
    std::optional<QString> label;
};

// What one channel is set to for the times entered, rounded and clamped as
// the window does; the warning is empty unless the width gave way to the
// budget. `origin` prefixes the warning, e.g. "profile.txt:3".
struct PlannedPulse
{
    PulseSteps steps;
    QString warning;
};
PlannedPulse planPulse(int delayPs, int widthPs, const QString &origin);

// The set frame for one channel, rounded and clamped as the window does.
// `origin` prefixes the warning, e.g. "profile.txt:3".
PlannedFrame planSetFrame(int channel, int delayPs, int widthPs, const QString &origin);
PlannedFrame planSaveFrame();

// A profile: "CHANNEL DELAY_PS WIDTH_PS ["LABEL"]" lines, checked whole; one
// without any channel is refused.
Result<QList<ProfileChannel>> readProfile(const QString &path, const QString &text);

// Where a profile's record is, for messages: "profile.txt:3".
QString recordOrigin(const QString &path, const ChannelRecord &record);

// The frames of a profile, planned only once all of it is found good.
Result<QList<PlannedFrame>> planProfile(const QString &path, const QString &text);

// The frames of a setup kept in the record, as a profile of its settings.
QList<PlannedFrame> planSetup(const Setup &setup);

#endif // FRAMEPLAN_H
