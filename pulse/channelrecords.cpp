#include "pulse/channelrecords.h"

#include <QRegularExpression>
#include <QSet>

namespace {

ChannelRecords failure(int lineNumber, const QString &error)
{
    return {{}, lineNumber, error};
}

} // namespace

ChannelRecords parseChannelRecords(const QString &text, int maxTime)
{
    static const QRegularExpression whiteSpace(QStringLiteral("\\s+"));
    ChannelRecords result;
    QSet<int> seen;
    const QStringList lines = text.split(u'\n');
    for (qsizetype index = 0; index < lines.size(); ++index) {
        const int lineNumber = int(index + 1);
        const QString content = lines[index].section(u'#', 0, 0).trimmed();
        if (content.isEmpty())
            continue;
        const QStringList fields = content.split(whiteSpace);
        if (fields.size() != 3)
            return failure(lineNumber,
                           QStringLiteral("expected channel, delay and width, found %1 field(s)")
                                   .arg(fields.size()));
        int values[3];
        for (int field = 0; field < 3; ++field) {
            bool ok = false;
            values[field] = fields[field].toInt(&ok);
            if (!ok)
                return failure(lineNumber,
                               QStringLiteral("\"%1\" is not a whole number").arg(fields[field]));
        }
        const ChannelRecord record{lineNumber, values[0], values[1], values[2]};
        if (record.channel < 1 || record.channel > kChannelCount)
            return failure(lineNumber, QStringLiteral("channel %1 is outside 1 to %2")
                                               .arg(record.channel)
                                               .arg(kChannelCount));
        for (const int time : {record.delay, record.width}) {
            if (time < 0 || time > maxTime)
                return failure(lineNumber,
                               QStringLiteral("%1 is outside 0 to %2").arg(time).arg(maxTime));
        }
        if (seen.contains(record.channel))
            return failure(lineNumber,
                           QStringLiteral("channel %1 is given twice").arg(record.channel));
        seen.insert(record.channel);
        result.records.append(record);
    }
    return result;
}
