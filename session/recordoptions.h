#ifndef RECORDOPTIONS_H
#define RECORDOPTIONS_H

#include "common/result.h"
#include "session/generatorrecord.h"

#include <QStringList>

class QCommandLineParser;

// The options every program that opens a generator takes for its record:
// --record PATH, --no-record and --journal-limit N, and for the
// long-running ones --restore none|last|saved.
enum class RestoreOption { Without, With };
void addRecordOptions(QCommandLineParser &parser, RestoreOption restore = RestoreOption::Without);
Result<RecordSettings> recordSettingsFrom(const QCommandLineParser &parser);
// RestoreMode::None when the option is not set.
Result<RestoreMode> restoreModeFrom(const QCommandLineParser &parser);
// "none", "last" or "saved".
Result<RestoreMode> restoreModeNamed(const QString &name);

// The record options among arguments meant for another parser too (Tango's),
// taken out: `arguments` keeps the rest.
QStringList takeRecordArguments(QStringList &arguments);

#endif // RECORDOPTIONS_H
