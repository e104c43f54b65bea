#include "session/recordoptions.h"

#include <QCommandLineParser>

namespace {

constexpr qint64 kMaxJournalLimit = 1'000'000'000;
const QString kRecord = QStringLiteral("record");
const QString kNoRecord = QStringLiteral("no-record");
const QString kJournalLimit = QStringLiteral("journal-limit");
const QString kRestore = QStringLiteral("restore");

} // namespace

void addRecordOptions(QCommandLineParser &parser, RestoreOption restore)
{
    parser.addOptions({
            {kRecord,
             QStringLiteral("Keep the generator's record (journal, labels, setups) in <path> "
                            "(default: $XDG_STATE_HOME/kestrane/record.sqlite)."),
             QStringLiteral("path")},
            {kNoRecord, QStringLiteral("Keep no record.")},
            {kJournalLimit,
             QStringLiteral("Keep at most <n> journal entries per generator, dropping the oldest "
                            "(default 1000000)."),
             QStringLiteral("n")},
    });
    if (restore == RestoreOption::With)
        parser.addOption({kRestore,
                          QStringLiteral("Once the generator is open, send nothing (none, the "
                                         "default), each channel's last setting (last), or the "
                                         "settings at its last save (saved)."),
                          QStringLiteral("none|last|saved")});
}

Result<RecordSettings> recordSettingsFrom(const QCommandLineParser &parser)
{
    if (parser.isSet(kRecord) && parser.isSet(kNoRecord))
        return Failure{QStringLiteral("--record and --no-record exclude each other")};
    RecordSettings settings;
    settings.enabled = !parser.isSet(kNoRecord);
    settings.path = parser.value(kRecord);
    if (parser.isSet(kRecord) && settings.path.isEmpty())
        return Failure{QStringLiteral("--record takes a file's path")};
    if (parser.isSet(kJournalLimit)) {
        bool ok = false;
        settings.journalLimit = parser.value(kJournalLimit).toLongLong(&ok);
        if (!ok || settings.journalLimit < 1 || settings.journalLimit > kMaxJournalLimit)
            return Failure{QStringLiteral("--journal-limit takes a whole number from 1 to %1, not "
                                          "\"%2\"")
                                   .arg(kMaxJournalLimit)
                                   .arg(parser.value(kJournalLimit))};
    }
    return settings;
}

Result<RestoreMode> restoreModeNamed(const QString &name)
{
    if (name == QLatin1String("none"))
        return RestoreMode::None;
    if (name == QLatin1String("last"))
        return RestoreMode::Last;
    if (name == QLatin1String("saved"))
        return RestoreMode::Saved;
    return Failure{QStringLiteral("--restore takes none, last or saved, not \"%1\"").arg(name)};
}

Result<RestoreMode> restoreModeFrom(const QCommandLineParser &parser)
{
    return parser.isSet(kRestore) ? restoreModeNamed(parser.value(kRestore)) : RestoreMode::None;
}

QStringList takeRecordArguments(QStringList &arguments)
{
    const QStringList withValue{QStringLiteral("--") + kRecord,
                                QStringLiteral("--") + kJournalLimit,
                                QStringLiteral("--") + kRestore};
    QStringList taken;
    QStringList rest;
    for (qsizetype index = 0; index < arguments.size(); ++index) {
        const QString &argument = arguments[index];
        if (withValue.contains(argument.section(u'=', 0, 0))) {
            taken << argument;
            if (!argument.contains(u'=') && index + 1 < arguments.size())
                taken << arguments[++index];
        } else if (argument == QStringLiteral("--") + kNoRecord) {
            taken << argument;
        } else {
            rest << argument;
        }
    }
    arguments = rest;
    return taken;
}
