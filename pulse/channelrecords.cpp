#include "pulse/channelrecords.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace {

bool isControlCharacter(QChar character)
{
    return character.category() == QChar::Other_Control && character != u'\t' && character != u'\r';
}

// A whole decimal number, optionally signed, and nothing else.
bool isWholeNumber(const QString &field)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9]+$"));
    return number.match(field).hasMatch();
}

} // namespace

Failure<> recordFailure(const QString &source, int lineNumber, const QString &reason)
{
    return {QStringLiteral("%1:%2: %3").arg(source).arg(lineNumber).arg(reason)};
}

Result<QList<ChannelRecord>> parseChannelRecords(const QString &source, const QString &text,
                                                 int maxTime)
{
    static const QRegularExpression whiteSpace(QStringLiteral("\\s+"));
    QList<ChannelRecord> records;
    QSet<int> seen;
    const QStringList lines = text.split(u'\n');
    for (qsizetype index = 0; index < lines.size(); ++index) {
        const int lineNumber = int(index + 1);
        const auto fail
                = [&](const QString &reason) { return recordFailure(source, lineNumber, reason); };
        const auto control
                = std::find_if(lines[index].begin(), lines[index].end(), isControlCharacter);
        if (control != lines[index].end())
            return fail(QStringLiteral("control character U+%1")
                                .arg(control->unicode(), 4, 16, QLatin1Char('0')));
        const QString content = lines[index].section(u'#', 0, 0).trimmed();
        if (content.isEmpty())
            continue;
        const QStringList fields = content.split(whiteSpace);
        if (fields.size() != 3)
            return fail(QStringLiteral("expected channel, delay and width, found %1 field(s)")
                                .arg(fields.size()));
        int values[3];
        for (int field = 0; field < 3; ++field) {
            bool ok = isWholeNumber(fields[field]);
            values[field] = ok ? fields[field].toInt(&ok) : 0;
            if (!ok)
                return fail(QStringLiteral("\"%1\" is not a whole number").arg(fields[field]));
        }
        const ChannelRecord record{lineNumber, values[0], values[1], values[2]};
        if (record.channel < 1 || record.channel > kChannelCount)
            return fail(QStringLiteral("channel %1 is outside 1 to %2")
                                .arg(record.channel)
                                .arg(kChannelCount));
        for (const int time : {record.delay, record.width}) {
            if (time < 0 || time > maxTime)
                return fail(QStringLiteral("%1 is outside 0 to %2").arg(time).arg(maxTime));
        }
        if (seen.contains(record.channel))
            return fail(QStringLiteral("channel %1 is given twice").arg(record.channel));
        seen.insert(record.channel);
        records.append(record);
    }
    return records;
}

Result<QString> readChannelFile(const QString &path)
{
    // Checked before opening: opening a FIFO would block, reading a device
    // might never end.
    const QFileInfo info(path);
    const Failure<> tooLarge{
            QStringLiteral("%1: larger than %2 bytes").arg(path).arg(kMaxChannelFileBytes)};
    if (info.exists() && !info.isFile())
        return Failure{QStringLiteral("%1: not a regular file").arg(path)};
    if (info.size() > kMaxChannelFileBytes)
        return tooLarge;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Failure{QStringLiteral("%1: %2").arg(path, file.errorString())};
    const QByteArray bytes = file.read(kMaxChannelFileBytes + 1);
    if (bytes.size() > kMaxChannelFileBytes)
        return tooLarge;
    if (file.error() != QFileDevice::NoError)
        return Failure{QStringLiteral("%1: %2").arg(path, file.errorString())};
    return QString::fromUtf8(bytes);
}
