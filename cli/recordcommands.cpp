#include "cli/recordcommands.h"

#include "cli/ctloutput.h"
#include "cli/ctlrequest.h"
#include "cli/frameplan.h"

#include "common/program.h"
#include "device/portdiscovery.h"
#include "record/recordtexts.h"
#include "session/generatorrecord.h"

#include <QJsonDocument>
#include <QLoggingCategory>

#include <algorithm>

namespace {

// The record of the generator the request names, for a command that says
// itself what went wrong with it.
Result<std::unique_ptr<GeneratorRecord>> generatorRecord(const CtlRequest &request)
{
    if (!request.record.enabled)
        return Failure{QStringLiteral("--no-record: there is no record to use")};
    const Result<std::optional<GeneratorKey>> generator = recordGenerator(request);
    if (!generator)
        return Failure{generator.error()};
    if (!generator.value())
        return Failure{QStringLiteral("no generator attached: name it with --port or --serial")};
    QLoggingCategory::setFilterRules(QStringLiteral("kestrane.record.warning=false"));
    auto record = std::make_unique<GeneratorRecord>(request.record);
    record->setGenerator(*generator.value());
    return record;
}

// Columns as wide as their widest cell, the last one as it is.
QStringList aligned(const QList<QStringList> &rows)
{
    QList<qsizetype> widths;
    for (const QStringList &row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (qsizetype column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], row[column].size());
    }
    QStringList lines;
    for (const QStringList &row : rows) {
        QString line;
        for (qsizetype column = 0; column < row.size(); ++column)
            line += column + 1 < row.size() ? row[column].leftJustified(widths[column] + 2)
                                            : row[column];
        lines.append(line);
    }
    return lines;
}

int printLines(const QStringList &lines)
{
    for (const QString &line : lines) {
        if (const Result<void> printed = printOutput(line); !printed)
            return fail(kExitFailure, printed.error());
    }
    return kExitSuccess;
}

} // namespace

Result<std::optional<GeneratorKey>> recordGenerator(const CtlRequest &request)
{
    if (!request.serialNumber.isEmpty())
        return std::optional(GeneratorKey{request.serialNumber, {}});
    const QList<PortDescription> ports = systemPorts();
    if (request.portName.isEmpty() && generatorPorts(ports).isEmpty())
        return std::optional<GeneratorKey>();
    const Result<PortDescription> chosen = chooseGeneratorPort(request.portName, ports);
    if (!chosen)
        return Failure{chosen.error()};
    return std::optional(GeneratorKey{chosen->serialNumber, chosen->portName});
}

int printJournal(const CtlRequest &request)
{
    if (!request.record.enabled)
        return fail(kExitUsage, QStringLiteral("journal reads the record: not with --no-record"));
    const Result<std::optional<GeneratorKey>> generator = recordGenerator(request);
    if (!generator)
        return fail(kExitFailure, generator.error());
    QList<GeneratorKey> named;
    if (generator.value())
        named.append(*generator.value());
    const QString path = request.record.path.isEmpty() ? defaultRecordPath() : request.record.path;
    const Result<JournalReading> reading
            = readJournal(path, named, {{}, request.sinceMs, request.channel, request.limit});
    if (!reading)
        return fail(kExitFailure, reading.error());
    const bool several = reading->generatorNames.size() > 1;
    QStringList lines;
    QList<QStringList> rows;
    if (!request.json) {
        rows.append({"TIME", "PROGRAM", "CLIENT", "CH", "DELAY_PS", "WIDTH_PS", "FRAME", "REPLY",
                     "OUTCOME"});
        if (several)
            rows.front().prepend(QStringLiteral("GENERATOR"));
    }
    for (const JournalEntry &entry : reading->entries) {
        const QString generatorName = reading->generatorNames.value(entry.generator);
        if (request.json) {
            lines.append(QString::fromUtf8(QJsonDocument(journalEntryJson(entry, generatorName))
                                                   .toJson(QJsonDocument::Compact)));
            continue;
        }
        const auto ps = [&entry](int PulseSteps::*steps) {
            return entry.steps ? QString::number((*entry.steps).*steps * kStepPs)
                               : QStringLiteral("-");
        };
        QStringList row{journalTime(entry.timeMs),
                        entry.program,
                        entry.client,
                        entry.channel == 0 ? QStringLiteral("-") : QString::number(entry.channel),
                        ps(&PulseSteps::delaySteps),
                        ps(&PulseSteps::widthSteps),
                        entry.frame,
                        entry.reply.isEmpty() ? QStringLiteral("-") : entry.reply,
                        outcomeName(entry.outcome)};
        if (several)
            row.prepend(generatorName);
        rows.append(row);
    }
    return printLines(request.json ? lines : aligned(rows));
}

int labelChannel(const CtlRequest &request)
{
    if (const Result<QString> label = checkedLabel(request.label); !label)
        return fail(kExitUsage, label.error());
    const Result<std::unique_ptr<GeneratorRecord>> record = generatorRecord(request);
    if (!record)
        return fail(kExitFailure, record.error());
    if (const Result<void> kept = record.value()->setLabel(request.channel, request.label); !kept)
        return fail(kExitFailure, QStringLiteral("cannot keep the label: ") + kept.error());
    return kExitSuccess;
}

int useSetups(const CtlRequest &request)
{
    const QString &name = request.setupName;
    QList<SetupChannel> channels;
    if (request.setupAction == CtlRequest::SaveSetup) {
        if (const Result<QString> checked = checkedSetupName(name); !checked)
            return fail(kExitUsage, checked.error());
        const Result<QString> text = readChannelFile(request.profilePath);
        if (!text)
            return fail(kExitUsage, text.error());
        const Result<QList<ProfileChannel>> profile
                = readProfile(request.profilePath, text.value());
        if (!profile)
            return fail(kExitUsage, profile.error());
        for (const auto &[entry, label] : profile.value()) {
            const PlannedPulse pulse
                    = planPulse(entry.delay, entry.width, recordOrigin(request.profilePath, entry));
            if (!pulse.warning.isEmpty())
                warn(pulse.warning);
            channels.append({entry.channel, pulse.steps, label.value_or(QString())});
        }
        std::sort(
                channels.begin(), channels.end(),
                [](const SetupChannel &a, const SetupChannel &b) { return a.channel < b.channel; });
    }
    const Result<std::unique_ptr<GeneratorRecord>> opened = generatorRecord(request);
    if (!opened)
        return fail(kExitFailure, opened.error());
    GeneratorRecord &record = *opened.value();
    switch (request.setupAction) {
    case CtlRequest::ListSetups: {
        const Result<QStringList> names = record.setupNames();
        return names ? printLines(names.value()) : fail(kExitFailure, names.error());
    }
    case CtlRequest::ShowSetup: {
        const Result<std::optional<Setup>> setup = record.setup(name);
        if (!setup)
            return fail(kExitFailure, setup.error());
        if (!setup.value())
            return fail(kExitUsage, QStringLiteral("no setup \"%1\"").arg(name));
        // As a profile: apply takes it back.
        QStringList lines;
        for (const SetupChannel &channel : setup.value()->channels) {
            QString line = QStringLiteral("%1 %2 %3")
                                   .arg(channel.channel)
                                   .arg(channel.steps.delaySteps * kStepPs)
                                   .arg(channel.steps.widthSteps * kStepPs);
            if (!channel.label.isEmpty())
                line += QStringLiteral(" \"%1\"").arg(QString(channel.label).replace(u'"', "\"\""));
            lines.append(line);
        }
        return printLines(lines);
    }
    case CtlRequest::SaveSetup: {
        const Result<void> stored = record.storeSetup(name, channels);
        return stored ? kExitSuccess : fail(kExitFailure, stored.error());
    }
    case CtlRequest::DeleteSetup:
        break;
    }
    const Result<bool> deleted = record.deleteSetup(name);
    if (!deleted)
        return fail(kExitFailure, deleted.error());
    return deleted.value() ? kExitSuccess
                           : fail(kExitUsage, QStringLiteral("no setup \"%1\"").arg(name));
}
