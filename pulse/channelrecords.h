#ifndef CHANNELRECORDS_H
#define CHANNELRECORDS_H

#include <QList>
#include <QString>

constexpr int kChannelCount = 16;

// One line of a channel file: "CHANNEL DELAY WIDTH", three whole numbers
// separated by white space. The unit of delay and width is the caller's.
struct ChannelRecord
{
    int lineNumber = 0;
    int channel = 0;
    int delay = 0;
    int width = 0;
};

struct ChannelRecords
{
    QList<ChannelRecord> records; // in file order
    int errorLine = 0;            // 0 when the text is sound
    QString error;
};

// Reads text in which "#" starts a comment and blank lines are skipped.
// Stops at the first line that is malformed, names a channel outside 1 to
// 16 or one given before, or has a time outside 0 to maxTime.
ChannelRecords parseChannelRecords(const QString &text, int maxTime);

#endif // CHANNELRECORDS_H
