#include "simulator/generatorstate.h"

#include <QSaveFile>

namespace {

bool fitsBudget(int delaySteps, int widthSteps)
{
    return clampWidthSteps(delaySteps, widthSteps) == widthSteps;
}

} // namespace

bool GeneratorState::applySetFrame(const QByteArray &frame)
{
    if (frame.size() != 8)
        return false;
    bool ok[3] = {};
    const int number = frame.mid(0, 2).toInt(&ok[0]);
    const int delaySteps = frame.mid(2, 3).toInt(&ok[1]);
    const int widthSteps = frame.mid(5, 3).toInt(&ok[2]);
    if (!ok[0] || !ok[1] || !ok[2] || number < 1 || number > kChannelCount
        || !fitsBudget(delaySteps, widthSteps))
        return false;
    channels[std::size_t(number - 1)] = {delaySteps, widthSteps};
    return true;
}

QByteArray GeneratorState::toText() const
{
    QByteArray text = "# Pulse generator state: channel, delay and width in 11 ps steps\n";
    for (int number = 1; number <= kChannelCount; ++number) {
        text += QByteArray::number(number) + ' ' + QByteArray::number(channel(number).delaySteps)
                + ' ' + QByteArray::number(channel(number).widthSteps) + '\n';
    }
    return text;
}

GeneratorState GeneratorState::fromText(const QString &text, int *errorLine, QString *error)
{
    GeneratorState state;
    const ChannelRecords parsed = parseChannelRecords(text, kBudgetSteps);
    *errorLine = parsed.errorLine;
    *error = parsed.error;
    for (const ChannelRecord &record : parsed.records) {
        if (!fitsBudget(record.delay, record.width)) {
            *errorLine = record.lineNumber;
            *error = QStringLiteral("delay plus width exceeds %1 steps").arg(kBudgetSteps);
            return {};
        }
        state.channels[std::size_t(record.channel - 1)] = {record.delay, record.width};
    }
    return state;
}

bool GeneratorState::save(const QString &path, QString *error) const
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(toText()) >= 0 && file.commit())
        return true;
    *error = file.errorString();
    return false;
}

QString GeneratorState::table() const
{
    QString text = QStringLiteral("channel  delay  width  (steps)");
    for (int number = 1; number <= kChannelCount; ++number) {
        text += QStringLiteral("\n%1  %2  %3")
                        .arg(number, 7)
                        .arg(channel(number).delaySteps, 5)
                        .arg(channel(number).widthSteps, 5);
    }
    return text;
}
