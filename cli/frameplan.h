#ifndef FRAMEPLAN_H
#define FRAMEPLAN_H

#include "common/result.h"

#include <QByteArray>
#include <QList>
#include <QString>

// One frame to send, with what the user asked for in words.
struct PlannedFrame
{
    QByteArray frame;
    QString fields;  // "key=value" pairs, the frame last
    QString warning; // empty unless the width gave way to the budget
};

// The set frame for one channel, rounded and clamped as the window does.
// `origin` prefixes the warning, e.g. "profile.txt:3".
PlannedFrame planSetFrame(int channel, int delayPs, int widthPs, const QString &origin);
PlannedFrame planSaveFrame();

// A profile: "CHANNEL DELAY_PS WIDTH_PS" lines, checked whole before any
// frame is planned; one without any channel is refused.
Result<QList<PlannedFrame>> planProfile(const QString &path, const QString &text);

#endif // FRAMEPLAN_H
