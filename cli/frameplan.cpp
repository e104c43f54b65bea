#include "cli/frameplan.h"

#include "device/commandframes.h"

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
    return {frame, fields, warning};
}

PlannedFrame planSaveFrame()
{
    return {kSaveCommand, QStringLiteral("frame=%1").arg(QString::fromLatin1(kSaveCommand)), {}};
}

Result<QList<ChannelRecord>> readProfile(const QString &path, const QString &text)
{
    Result<QList<ChannelRecord>> records = parseChannelRecords(path, text, kMaxTimePs);
    if (records && records->isEmpty())
        return Failure{QStringLiteral("%1: no channel to set").arg(path)};
    return records;
}

QString recordOrigin(const QString &path, const ChannelRecord &record)
{
    return QStringLiteral("%1:%2").arg(path).arg(record.lineNumber);
}

Result<QList<PlannedFrame>> planProfile(const QString &path, const QString &text)
{
    const Result<QList<ChannelRecord>> records = readProfile(path, text);
    if (!records)
        return Failure{records.error()};
    QList<PlannedFrame> frames;
    for (const ChannelRecord &record : records.value()) {
        frames.append(planSetFrame(record.channel, record.delay, record.width,
                                   recordOrigin(path, record)));
    }
    return frames;
}
