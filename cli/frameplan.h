#ifndef FRAMEPLAN_H
#define FRAMEPLAN_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One frame to send, with what the user asked for in words.
struct PlannedFrame
{
    QByteArray frame;
    QString fields; // "key=value" pairs, the frame last
};

struct FramePlan
{
    QList<PlannedFrame> frames;
    QStringList warnings; // widths that give way to the budget
    QString error;        // input that must not be sent; empty when sound
};

// The set frame for one channel, rounded and clamped as the window does.
// `origin` prefixes a warning, e.g. "profile.txt:3".
PlannedFrame planSetFrame(int channel, int delayPs, int widthPs, const QString &origin,
                          QStringList *warnings);
PlannedFrame planSaveFrame();

// A profile: "CHANNEL DELAY_PS WIDTH_PS" lines, checked whole before any
// frame is planned.
FramePlan planProfile(const QString &path, const QString &text);

#endif // FRAMEPLAN_H
