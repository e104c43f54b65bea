#ifndef RECORDSTORE_H
#define RECORDSTORE_H

// The host's record of its generators, kept in one SQLite file through Qt
// SQL: a journal of every frame sent, each channel's label, its last setting
// and its setting at the last save, and named setups. One file serves every
// program on the host and every generator; the programs reach it through the
// session layer (session/generatorrecord.h), which decides what to keep.
//
// The file is opened in WAL mode, so that another process reads it while a
// program writes, with synchronous=NORMAL: a committed change survives the
// writing process being killed at any moment. Every value goes to SQLite as
// a bound parameter. A file written by a newer schema is refused untouched.
// A store belongs to the thread that opened it.

#include "common/result.h"
#include "pulse/channelrecords.h"
#include "record/journalentry.h"

#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <array>
#include <memory>
#include <unordered_map>

class SqliteStatement;
#include <optional>

constexpr int kRecordSchemaVersion = 1;
constexpr qint64 kDefaultJournalLimit = 1'000'000;

// A generator as the record knows it: by its USB serial number, or by its
// port's path when it reports none.
struct GeneratorKey
{
    QString serialNumber; // empty when the port reports none
    QString portPath;

    bool isEmpty() const { return serialNumber.isEmpty() && portPath.isEmpty(); }
    // "serial 2065327A5344" or "port /dev/pts/3", for people.
    QString text() const;
};

using ChannelLabelTexts = std::array<QString, kChannelCount>;

struct SetupChannel
{
    int channel = 0;
    PulseSteps steps;
    QString label;
};

struct Setup
{
    QString name;
    QList<SetupChannel> channels; // in channel order
};

// Which entries to read: the last `limit` (0: all) of those that match,
// oldest first.
struct JournalQuery
{
    QList<qint64> generators; // empty: every generator
    qint64 sinceMs = 0;       // ms since the epoch, UTC
    int channel = 0;          // 0: every channel and the saves
    qint64 limit = 0;
};

class RecordStore
{
public:
    // Opens or creates the file (and its folder); fails with a sentence for
    // people when it cannot, leaving a newer schema's file untouched.
    static Result<std::unique_ptr<RecordStore>> open(const QString &path,
                                                     qint64 journalLimit = kDefaultJournalLimit);
    // Opens an existing file for reading only.
    static Result<std::unique_ptr<RecordStore>> openForReading(const QString &path);
    ~RecordStore();
    RecordStore(const RecordStore &) = delete;
    RecordStore &operator=(const RecordStore &) = delete;

    const QString &path() const { return filePath; }

    // The generator's id, added to the record when new.
    Result<qint64> generatorId(const GeneratorKey &key);
    // The generators the record knows, with their ids.
    Result<QList<std::pair<qint64, GeneratorKey>>> generators();

    // The generator's settings as the journal up to an entry tells them:
    // kept now and then, so that reading them replays only what came after.
    struct Snapshot
    {
        GeneratorSettings settings;
        // The last entry they include: one added with these changes, or else
        // the one kept with this id (0: none).
        const JournalEntry *lastAdded = nullptr;
        qint64 lastKeptId = 0;
    };

    // One transaction: entries whose outcome and reply changed, entries to
    // add (their ids are set) and a snapshot of the settings, in that order.
    // Either all of it is kept or none. Adding entries trims the journal to
    // its limit, dropping the oldest: a snapshot must then have been kept
    // since the oldest kept entry of the last half of the limit.
    struct Changes
    {
        qint64 generator = 0;
        QList<JournalEntry *> added;
        QList<const JournalEntry *> settled;
        std::optional<Snapshot> snapshot;
    };
    Result<void> commit(Changes &changes);

    Result<QList<JournalEntry>> journal(const JournalQuery &query);
    // The last snapshot with every entry after it applied (applyFrame).
    Result<GeneratorSettings> settings(qint64 generator);
    Result<ChannelLabelTexts> labels(qint64 generator);
    Result<void> setLabel(qint64 generator, int channel, const QString &label);

    // Replaces a setup of the same name.
    Result<void> storeSetup(qint64 generator, const Setup &setup);
    Result<std::optional<Setup>> setup(qint64 generator, const QString &name);
    // Sorted.
    Result<QStringList> setupNames(qint64 generator);
    // False when there was no such setup.
    Result<bool> deleteSetup(qint64 generator, const QString &name);

private:
    RecordStore(QString connectionName, QString path, qint64 journalLimit);
    Result<void> prepare(bool readOnly);
    Result<void> addEntries(Changes &changes);
    Result<void> settleEntries(const Changes &changes);
    Result<void> keepSnapshot(qint64 generator, const Snapshot &snapshot);
    Result<void> countJournal(qint64 generator);
    Result<void> trimJournal(qint64 generator);
    // A statement that reads nothing, prepared once: the id of the row it
    // added, if any.
    Result<QVariant> change(const QString &statement, const QVariantList &values);

    const QString connectionName;
    const QString filePath;
    const qint64 journalLimit;
    QSqlDatabase database;
    // Each generator's entries, the last one counted; only the program
    // holding a generator adds to its journal.
    struct JournalCount
    {
        qint64 entries = 0;
        qint64 through = 0;
    };
    QHash<qint64, JournalCount> journalCounts;
    std::unordered_map<QString, std::unique_ptr<QSqlQuery>> preparedChanges;
    // What every frame runs.
    std::unique_ptr<SqliteStatement> begin;
    std::unique_ptr<SqliteStatement> end;
    std::unique_ptr<SqliteStatement> rollBack;
    std::unique_ptr<SqliteStatement> insertEntry;
    std::unique_ptr<SqliteStatement> settleEntry;
};

#endif // RECORDSTORE_H
