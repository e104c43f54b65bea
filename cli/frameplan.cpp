#include "cli/frameplan.h"

#include "pulse/channelrecords.h"
#include "device/commandframes.h"
#include "pulse/pulsesteps.h"

PlannedFrame planSetFrame(int channel, int delayPs, int widthPs, const QString &origin,
                          QStringList *warnings)
{
    const PulseSteps steps = pulseStepsFor(delayPs, widthPs);
    if (steps.widthSteps != toSteps(widthPs)) {
        warnings->append(QStringLiteral("%1: width %2 ps cut to %3 ps: delay plus width may not "
                                        "exceed %4 steps")
                                 .arg(origin)
                                 .arg(widthPs)
                                 .arg(steps.widthSteps * kStepPs)
                                 .arg(kBudgetSteps));
    }
    const QByteArray frame
            = buildSetCommand(channel, steps.delaySteps, steps.widthSteps).toLocal8Bit();
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
    return {frame, fields};
}

PlannedFrame planSaveFrame()
{
    return {kSaveCommand, QStringLiteral("frame=%1").arg(QString::fromLatin1(kSaveCommand))};
}

FramePlan planProfile(const QString &path, const QString &text)
{
    FramePlan plan;
    const ChannelRecords records = parseChannelRecords(text, kMaxTimePs);
    if (records.errorLine != 0) {
        plan.error
                = QStringLiteral("%1:%2: %3").arg(path).arg(records.errorLine).arg(records.error);
        return plan;
    }
    for (const ChannelRecord &record : records.records) {
        const QString origin = QStringLiteral("%1:%2").arg(path).arg(record.lineNumber);
        plan.frames.append(
                planSetFrame(record.channel, record.delay, record.width, origin, &plan.warnings));
    }
    return plan;
}
