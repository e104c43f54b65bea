#include "cli/frameplan.h"

#include "device/commandframes.h"
#include "record/recordtexts.h"

#include <QHash>

namespace {

using LabelledLine = std::pair<QString, std::optional<QString>>;

// The line without its label in double quotes ("" inside for one quote),
// and the label. A quote after "#" is part of a comment.
Result<LabelledLine> takeLabel(const QString &line)
{
    const qsizetype quote = line.indexOf(u'"');
    const qsizetype comment = line.indexOf(u'#');
    if (quote < 0 || (comment >= 0 && comment < quote))
        return LabelledLine{line, std::nullopt};
    QString label;
    qsizetype at = quote + 1;
    for (; at < line.size(); ++at) {
        if (line[at] == u'"' && line.mid(at, 2) != QLatin1String("\"\""))
            break;
        label += line[at];
        if (line[at] == u'"')
            ++at;
    }
    if (at == line.size())
        return Failure{QStringLiteral("the label has no closing quote")};
    const QString after = line.mid(at + 1);
    if (!after.trimmed().isEmpty() && !after.trimmed().startsWith(u'#'))
        return Failure{QStringLiteral("text after the label: %1").arg(after.trimmed())};
    const Result<QString> checked = checkedLabel(label);
    if (!checked)
        return Failure{checked.error()};
    return LabelledLine{line.left(quote) + after, label};
}

} // namespace

PlannedPulse planPulse(int delayPs, int widthPs, const QString &origin)
{
    const PulseSteps steps = pulseStepsFor(delayPs, widthPs);
    QString warning;
    if (steps.widthSteps != toSteps(widthPs)) {
        warning = QStringLiteral("%1: width %2 ps cut to %3 ps: delay plus width may not "
                                 "exceed %4 steps")
                          .arg(origin)
                          .arg(widthPs)
                          .arg(steps.widthSteps * kStepPs)
                          .arg(kBudgetSteps);
    }
    return {steps, warning};
}

PlannedFrame planSetFrame(int channel, int delayPs, int widthPs, const QString &origin)
{
    const auto [steps, warning] = planPulse(delayPs, widthPs, origin);
    const QByteArray frame = buildSetCommand(channel, steps.delaySteps, steps.widthSteps);
    const QString fields
            = QStringLiteral("channel=%1 delay_ps=%2 width_ps=%3 applied_delay_ps=%4 "
                             "applied_width_ps=%5 delay_steps=%6 width_steps=%7 frame=%8")
                      .arg(channel)
                      .arg(delayPs)
                      .arg(widthPs)
                      .arg(steps.delaySteps * kStepPs)
                      .arg(steps.widthSteps * kStepPs)
                      .arg(steps.delaySteps)
                      .arg(steps.widthSteps)
                      .arg(QString::fromLatin1(frame));
    return {frame, fields, warning, channel, steps};
}

PlannedFrame planSaveFrame()
{
    return {kSaveCommand, QStringLiteral("frame=%1").arg(QString::fromLatin1(kSaveCommand)), {}};
}

Result<QList<ProfileChannel>> readProfile(const QString &path, const QString &text)
{
    QStringList lines = text.split(u'\n');
    QHash<int, QString> labels; // by line number
    for (qsizetype index = 0; index < lines.size(); ++index) {
        const int lineNumber = int(index + 1);
        const Result<LabelledLine> labelled = takeLabel(lines[index]);
        if (!labelled)
            return recordFailure(path, lineNumber, labelled.error());
        lines[index] = labelled->first;
        if (labelled->second)
            labels.insert(lineNumber, *labelled->second);
    }
    const Result<QList<ChannelRecord>> records
            = parseChannelRecords(path, lines.join(u'\n'), kMaxTimePs);
    if (!records)
        return Failure{records.error()};
    if (records->isEmpty())
        return Failure{QStringLiteral("%1: no channel to set").arg(path)};
    QList<ProfileChannel> channels;
    for (const ChannelRecord &record : records.value()) {
        const auto label = labels.constFind(record.lineNumber);
        channels.append({record, label == labels.cend() ? std::nullopt : std::optional(*label)});
    }
    return channels;
}

QString recordOrigin(const QString &path, const ChannelRecord &record)
{
    return QStringLiteral("%1:%2").arg(path).arg(record.lineNumber);
}

Result<QList<PlannedFrame>> planProfile(const QString &path, const QString &text)
{
    const Result<QList<ProfileChannel>> channels = readProfile(path, text);
    if (!channels)
        return Failure{channels.error()};
    QList<PlannedFrame> frames;
    for (const auto &[record, label] : channels.value()) {
        frames.append(planSetFrame(record.channel, record.delay, record.width,
                                   recordOrigin(path, record)));
        frames.last().label = label;
    }
    return frames;
}

QList<PlannedFrame> planSetup(const Setup &setup)
{
    QList<PlannedFrame> frames;
    for (const SetupChannel &channel : setup.channels) {
        frames.append(planSetFrame(channel.channel, channel.steps.delaySteps * kStepPs,
                                   channel.steps.widthSteps * kStepPs,
                                   QStringLiteral("setup %1").arg(setup.name)));
        frames.last().label = channel.label;
    }
    return frames;
}
