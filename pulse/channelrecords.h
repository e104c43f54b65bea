#ifndef CHANNELRECORDS_H
#define CHANNELRECORDS_H

#include "common/result.h"

#include <QList>
#include <QString>

constexpr int kChannelCount = 16;
// Profiles and state files are a few hundred bytes; anything larger is a
// mistake, not a file to load.
constexpr qint64 kMaxChannelFileBytes = qint64{1024} * 1024;

// One line of a channel file: "CHANNEL DELAY WIDTH", three whole numbers
// separated by white space. The unit of delay and width is the caller's.
struct ChannelRecord
{
    int lineNumber = 0;
    int channel = 0;
    int delay = 0;
    int width = 0;
};

// Reads text in which "#" starts a comment and blank lines are skipped,
// records in file order. Stops at the first line that is malformed (a
// field that is not a whole decimal number, a control character other than
// tab or CR), names a channel outside 1 to 16 or one given before, or has a
// time outside 0 to maxTime. Errors read "SOURCE:LINE: reason".
Result<QList<ChannelRecord>> parseChannelRecords(const QString &source, const QString &text,
                                                 int maxTime);

// "SOURCE:LINE: reason", as a parse error reads.
Failure<> recordFailure(const QString &source, int lineNumber, const QString &reason);

// The text of a regular file (a symbolic link to one is fine) of at most
// kMaxChannelFileBytes, decoded as UTF-8. Anything else (a device, a FIFO,
// a folder, a larger file) is refused without reading it.
Result<QString> readChannelFile(const QString &path);

#endif // CHANNELRECORDS_H
