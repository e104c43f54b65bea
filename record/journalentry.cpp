#include "record/journalentry.h"

#include <QDateTime>
#include <QJsonValue>

#include <array>

namespace {

const std::array<std::pair<FrameOutcome, const char *>, 5> kOutcomeNames{{
        {FrameOutcome::Ok, "ok"},
        {FrameOutcome::Refused, "refused"},
        {FrameOutcome::NoReply, "no reply"},
        {FrameOutcome::Late, "late"},
        {FrameOutcome::Lost, "lost"},
}};

} // namespace

QString outcomeName(FrameOutcome outcome)
{
    for (const auto &[known, name] : kOutcomeNames) {
        if (known == outcome)
            return QString::fromLatin1(name);
    }
    return {};
}

std::optional<FrameOutcome> outcomeNamed(const QString &name)
{
    for (const auto &[outcome, known] : kOutcomeNames) {
        if (name == QLatin1String(known))
            return outcome;
    }
    return std::nullopt;
}

bool mayHoldSetting(FrameOutcome outcome)
{
    return outcome != FrameOutcome::Refused;
}

void applyFrame(GeneratorSettings &settings, const JournalEntry &entry)
{
    if (!mayHoldSetting(entry.outcome))
        return;
    if (entry.steps && entry.channel >= 1 && entry.channel <= kChannelCount)
        settings.last[size_t(entry.channel - 1)] = entry.steps;
    else if (!entry.steps)
        settings.saved = settings.last;
}

QString journalTime(qint64 timeMs)
{
    return QDateTime::fromMSecsSinceEpoch(timeMs).toUTC().toString(Qt::ISODateWithMs);
}

QJsonObject journalEntryJson(const JournalEntry &entry, const QString &generator)
{
    const auto ps = [&entry](int PulseSteps::*steps) {
        return entry.steps ? QJsonValue((*entry.steps).*steps * kStepPs) : QJsonValue();
    };
    QJsonObject object{
            {"time", journalTime(entry.timeMs)},
            {"program", entry.program},
            {"client", entry.client},
            {"channel", entry.channel == 0 ? QJsonValue() : QJsonValue(entry.channel)},
            {"delayPs", ps(&PulseSteps::delaySteps)},
            {"widthPs", ps(&PulseSteps::widthSteps)},
            {"frame", entry.frame},
            {"reply", entry.reply},
            {"outcome", outcomeName(entry.outcome)},
    };
    if (!generator.isEmpty())
        object.insert(QStringLiteral("generator"), generator);
    return object;
}
