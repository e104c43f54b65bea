#include "record/recordstore.h"

#include "record/sqlitestatement.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// Each step takes the schema from the version of its index to the next.
// A new version appends a step; the steps already shipped never change.
const char *const kMigrations[] = {
        // 0 -> 1
        "CREATE TABLE generators ("
        "  id INTEGER PRIMARY KEY,"
        "  serial TEXT NOT NULL,"
        "  port TEXT NOT NULL,"
        "  settings_through INTEGER NOT NULL DEFAULT 0,"
        "  journal_count INTEGER NOT NULL DEFAULT 0,"
        "  counted_through INTEGER NOT NULL DEFAULT 0,"
        "  UNIQUE (serial, port));"
        // Every frame adds a row: no index and no reference to check on the
        // way, as the rows of one generator are read newest first by id.
        "CREATE TABLE journal ("
        "  id INTEGER PRIMARY KEY,"
        "  generator INTEGER NOT NULL,"
        "  time_ms INTEGER NOT NULL,"
        "  program TEXT NOT NULL,"
        "  client TEXT NOT NULL,"
        "  channel INTEGER CHECK (channel BETWEEN 1 AND 16),"
        "  delay_steps INTEGER,"
        "  width_steps INTEGER,"
        "  frame TEXT NOT NULL,"
        "  reply TEXT NOT NULL,"
        // Not "IN (...)": SQLite checks that with a table made for each row.
        "  outcome TEXT NOT NULL CHECK (outcome = 'ok' OR outcome = 'refused'"
        "    OR outcome = 'no reply' OR outcome = 'late' OR outcome = 'lost'));"
        "CREATE TABLE channels ("
        "  generator INTEGER NOT NULL REFERENCES generators (id),"
        "  channel INTEGER NOT NULL CHECK (channel BETWEEN 1 AND 16),"
        "  label TEXT NOT NULL DEFAULT '',"
        "  delay_steps INTEGER,"
        "  width_steps INTEGER,"
        "  saved_delay_steps INTEGER,"
        "  saved_width_steps INTEGER,"
        "  PRIMARY KEY (generator, channel)) WITHOUT ROWID;"
        "CREATE TABLE setups ("
        "  id INTEGER PRIMARY KEY,"
        "  generator INTEGER NOT NULL REFERENCES generators (id),"
        "  name TEXT NOT NULL,"
        "  stored_ms INTEGER NOT NULL,"
        "  UNIQUE (generator, name));"
        "CREATE TABLE setup_channels ("
        "  setup INTEGER NOT NULL REFERENCES setups (id) ON DELETE CASCADE,"
        "  channel INTEGER NOT NULL CHECK (channel BETWEEN 1 AND 16),"
        "  delay_steps INTEGER NOT NULL,"
        "  width_steps INTEGER NOT NULL,"
        "  label TEXT NOT NULL,"
        "  PRIMARY KEY (setup, channel)) WITHOUT ROWID;",
};
constexpr int kLatestVersion = int(std::size(kMigrations));

const char kInsertEntry[] = "INSERT INTO journal (generator, time_ms, program, client, channel, "
                            "delay_steps, width_steps, frame, reply, outcome) "
                            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
static_assert(kLatestVersion == kRecordSchemaVersion);

// How long a statement waits for another program's write to end: "a
// moment", after which the record is reported as not working.
constexpr int kBusyTimeoutMs = 250;

QString sqlError(const QSqlError &error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

Failure<> failure(const QString &what, const QSqlError &error)
{
    return Failure{QStringLiteral("%1: %2").arg(what, sqlError(error))};
}

QVariant orNull(const std::optional<int> &value)
{
    return value ? QVariant(*value) : QVariant(QMetaType(QMetaType::Int));
}

QVariant part(const std::optional<PulseSteps> &steps, int PulseSteps::*of)
{
    return orNull(steps ? std::optional((*steps).*of) : std::nullopt);
}

std::optional<PulseSteps> stepsFrom(const QVariant &delay, const QVariant &width)
{
    if (delay.isNull() || width.isNull())
        return std::nullopt;
    return PulseSteps{delay.toInt(), width.toInt()};
}

// Qt binds a null QString as SQL's NULL: text is never NULL here.
QVariant bound(const QVariant &value)
{
    if (value.typeId() == QMetaType::QString && value.toString().isNull())
        return QString(QLatin1String(""));
    return value;
}

// Runs a prepared statement with its values bound in order.
Result<QSqlQuery> run(const QSqlDatabase &database, const QString &statement,
                      const QVariantList &values = {})
{
    QSqlQuery query(database);
    if (!query.prepare(statement))
        return failure(QStringLiteral("cannot prepare a statement"), query.lastError());
    for (const QVariant &value : values)
        query.addBindValue(bound(value));
    if (!query.exec())
        return failure(QStringLiteral("cannot read or write it"), query.lastError());
    return query;
}

// Commits what `work` did, or rolls it back when it failed.
template<typename Work>
Result<void> inTransaction(QSqlDatabase database, Work work)
{
    if (!database.transaction())
        return failure(QStringLiteral("cannot begin writing"), database.lastError());
    Result<void> done = work();
    if (!done) {
        database.rollback();
        return done;
    }
    if (!database.commit()) {
        const QSqlError error = database.lastError();
        database.rollback();
        return failure(QStringLiteral("cannot write"), error);
    }
    return {};
}

QString uniqueConnectionName()
{
    static QAtomicInteger<quint64> next;
    return QStringLiteral("kestrane-record-%1").arg(next.fetchAndAddRelaxed(1));
}

} // namespace

QString GeneratorKey::text() const
{
    return serialNumber.isEmpty() ? QStringLiteral("port ") + portPath
                                  : QStringLiteral("serial ") + serialNumber;
}

RecordStore::RecordStore(QString connectionName, QString path, qint64 journalLimit) :
    connectionName(std::move(connectionName)),
    filePath(std::move(path)),
    journalLimit(journalLimit)
{}

RecordStore::~RecordStore()
{
    for (auto *statement : {&begin, &end, &rollBack, &insertEntry, &settleEntry})
        statement->reset();
    preparedChanges.clear();
    database.close();
    database = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
}

Result<std::unique_ptr<RecordStore>> RecordStore::open(const QString &path, qint64 journalLimit)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return Failure{QStringLiteral("Qt's SQLite driver is missing (libqt6sql6-sqlite)")};
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return Failure{QStringLiteral("cannot make the folder %1").arg(folder)};
    std::unique_ptr<RecordStore> store(new RecordStore(uniqueConnectionName(), path, journalLimit));
    if (const Result<void> prepared = store->prepare(false); !prepared)
        return Failure{prepared.error()};
    return store;
}

Result<std::unique_ptr<RecordStore>> RecordStore::openForReading(const QString &path)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return Failure{QStringLiteral("Qt's SQLite driver is missing (libqt6sql6-sqlite)")};
    if (!QFileInfo(path).isFile())
        return Failure{QStringLiteral("there is no record at %1").arg(path)};
    std::unique_ptr<RecordStore> store(new RecordStore(uniqueConnectionName(), path, 0));
    if (const Result<void> prepared = store->prepare(true); !prepared)
        return Failure{prepared.error()};
    return store;
}

Result<void> RecordStore::prepare(bool readOnly)
{
    database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    database.setDatabaseName(filePath);
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs);
    if (readOnly)
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    database.setConnectOptions(options);
    if (!database.open())
        return failure(QStringLiteral("cannot open %1").arg(filePath), database.lastError());

    // Read before anything is written: a newer program's file stays as it is.
    Result<QSqlQuery> versionRow = run(database, QStringLiteral("PRAGMA user_version"));
    if (!versionRow)
        return Failure{QStringLiteral("%1: %2").arg(filePath, versionRow.error())};
    const int version = versionRow->next() ? versionRow->value(0).toInt() : 0;
    versionRow->finish();
    if (version > kLatestVersion)
        return Failure{QStringLiteral("%1 was written by a newer Kestrane (record version %2; this "
                                      "one knows up to %3): left as it is")
                               .arg(filePath)
                               .arg(version)
                               .arg(kLatestVersion)};
    if (version == 0) {
        Result<QSqlQuery> tables
                = run(database, QStringLiteral("SELECT count(*) FROM sqlite_master"));
        if (!tables)
            return Failure{QStringLiteral("%1: %2").arg(filePath, tables.error())};
        if (tables->next() && tables->value(0).toInt() > 0)
            return Failure{
                    QStringLiteral("%1 holds other data: not a Kestrane record").arg(filePath)};
    }
    if (readOnly) {
        if (version < kLatestVersion)
            return Failure{QStringLiteral("%1 is not a Kestrane record").arg(filePath)};
        return {};
    }
    for (const char *pragma :
         {"PRAGMA journal_mode = WAL", "PRAGMA synchronous = NORMAL", "PRAGMA foreign_keys = ON"}) {
        if (const Result<QSqlQuery> set = run(database, QString::fromLatin1(pragma)); !set)
            return Failure{QStringLiteral("%1: %2").arg(filePath, set.error())};
    }
    if (version == kLatestVersion)
        return {};
    return inTransaction(database, [&]() -> Result<void> {
        // Another program may have brought it up to date meanwhile.
        Result<QSqlQuery> current = run(database, QStringLiteral("PRAGMA user_version"));
        if (!current)
            return Failure{current.error()};
        const int from = current->next() ? current->value(0).toInt() : 0;
        if (from == 0) {
            Result<QSqlQuery> tables
                    = run(database, QStringLiteral("SELECT count(*) FROM sqlite_master"));
            if (!tables)
                return Failure{tables.error()};
            if (tables->next() && tables->value(0).toInt() > 0)
                return Failure{
                        QStringLiteral("%1 holds other data: not a Kestrane record").arg(filePath)};
        }
        for (int step = from; step < kLatestVersion; ++step) {
            for (const QString &statement :
                 QString::fromLatin1(kMigrations[step]).split(u';', Qt::SkipEmptyParts)) {
                if (const Result<QSqlQuery> done = run(database, statement); !done)
                    return Failure{done.error()};
            }
        }
        const Result<QSqlQuery> stamped
                = run(database, QStringLiteral("PRAGMA user_version = %1").arg(kLatestVersion));
        if (!stamped)
            return Failure{stamped.error()};
        return {};
    });
}

Result<qint64> RecordStore::generatorId(const GeneratorKey &key)
{
    // A generator with a serial number is the same wherever it is plugged in.
    const QString port = key.serialNumber.isEmpty() ? key.portPath : QString();
    const QVariantList values{key.serialNumber, port};
    const QString select
            = QStringLiteral("SELECT id FROM generators WHERE serial = ? AND port = ?");
    Result<QSqlQuery> found = run(database, select, values);
    if (!found)
        return Failure{found.error()};
    if (found->next()) {
        const qint64 id = found->value(0).toLongLong();
        if (const Result<void> counted = countJournal(id); !counted)
            return Failure{counted.error()};
        return id;
    }
    Result<QSqlQuery> added
            = run(database, QStringLiteral("INSERT INTO generators (serial, port) VALUES (?, ?)"),
                  values);
    if (!added)
        return Failure{added.error()};
    return added->lastInsertId().toLongLong();
}

Result<QList<std::pair<qint64, GeneratorKey>>> RecordStore::generators()
{
    Result<QSqlQuery> rows = run(database, QStringLiteral("SELECT id, serial, port FROM "
                                                          "generators ORDER BY id"));
    if (!rows)
        return Failure{rows.error()};
    QList<std::pair<qint64, GeneratorKey>> found;
    while (rows->next())
        found.append({rows->value(0).toLongLong(),
                      GeneratorKey{rows->value(1).toString(), rows->value(2).toString()}});
    return found;
}

Result<void> RecordStore::commit(Changes &changes)
{
    if (!begin) {
        begin = std::make_unique<SqliteStatement>(database, "BEGIN");
        end = std::make_unique<SqliteStatement>(database, "COMMIT");
        rollBack = std::make_unique<SqliteStatement>(database, "ROLLBACK");
    }
    if (const Result<qint64> begun = begin->run({}); !begun)
        return Failure{begun.error()};
    Result<void> done = settleEntries(changes);
    if (done)
        done = addEntries(changes);
    if (done && changes.snapshot)
        done = keepSnapshot(changes.generator, *changes.snapshot);
    if (done) {
        if (const Result<qint64> ended = end->run({}); !ended)
            done = Failure{ended.error()};
    }
    if (!done) {
        static_cast<void>(rollBack->run({}));
        // Counted anew from what the file holds.
        journalCounts.remove(changes.generator);
    }
    return done;
}

Result<void> RecordStore::settleEntries(const Changes &changes)
{
    if (!settleEntry)
        settleEntry = std::make_unique<SqliteStatement>(
                database, "UPDATE journal SET reply = ?, outcome = ? WHERE id = ?");
    for (const JournalEntry *entry : std::as_const(changes.settled)) {
        const Result<qint64> settled = settleEntry->run(
                {entry->reply.toUtf8(), outcomeName(entry->outcome).toUtf8(), entry->id});
        if (!settled)
            return Failure{settled.error()};
    }
    return {};
}

Result<void> RecordStore::addEntries(Changes &changes)
{
    if (!insertEntry)
        insertEntry = std::make_unique<SqliteStatement>(database, kInsertEntry);
    const auto number = [](std::optional<int> value) -> SqliteStatement::Value {
        return value ? SqliteStatement::Value(qint64(*value)) : SqliteStatement::Value();
    };
    for (JournalEntry *entry : std::as_const(changes.added)) {
        const auto steps = [entry, &number](int PulseSteps::*of) {
            return number(entry->steps ? std::optional((*entry->steps).*of) : std::nullopt);
        };
        const Result<qint64> id = insertEntry->run(
                {changes.generator, entry->timeMs, entry->program.toUtf8(), entry->client.toUtf8(),
                 number(entry->channel == 0 ? std::nullopt : std::optional(entry->channel)),
                 steps(&PulseSteps::delaySteps), steps(&PulseSteps::widthSteps),
                 entry->frame.toUtf8(), entry->reply.toUtf8(),
                 outcomeName(entry->outcome).toUtf8()});
        if (!id)
            return Failure{id.error()};
        entry->id = id.value();
        entry->generator = changes.generator;
        if (const auto counted = journalCounts.find(changes.generator);
            counted != journalCounts.end())
            *counted = {counted->entries + 1, entry->id};
    }
    return changes.added.isEmpty() ? Result<void>() : trimJournal(changes.generator);
}

Result<void> RecordStore::keepSnapshot(qint64 generator, const Snapshot &snapshot)
{
    for (int channel = 1; channel <= kChannelCount; ++channel) {
        const std::optional<PulseSteps> &last = snapshot.settings.last[size_t(channel - 1)];
        const std::optional<PulseSteps> &saved = snapshot.settings.saved[size_t(channel - 1)];
        const Result<QVariant> kept
                = change(QStringLiteral("INSERT INTO channels (generator, channel, delay_steps, "
                                        "width_steps, saved_delay_steps, saved_width_steps) "
                                        "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT DO UPDATE SET "
                                        "delay_steps = excluded.delay_steps, "
                                        "width_steps = excluded.width_steps, "
                                        "saved_delay_steps = excluded.saved_delay_steps, "
                                        "saved_width_steps = excluded.saved_width_steps"),
                         {generator, channel, part(last, &PulseSteps::delaySteps),
                          part(last, &PulseSteps::widthSteps), part(saved, &PulseSteps::delaySteps),
                          part(saved, &PulseSteps::widthSteps)});
        if (!kept)
            return Failure{kept.error()};
    }
    const Result<QVariant> through = change(
            QStringLiteral("UPDATE generators SET settings_through = ? WHERE id = ?"),
            {snapshot.lastAdded ? snapshot.lastAdded->id : snapshot.lastKeptId, generator});
    if (!through)
        return Failure{through.error()};
    return {};
}

Result<QVariant> RecordStore::change(const QString &statement, const QVariantList &values)
{
    std::unique_ptr<QSqlQuery> &query = preparedChanges[statement];
    if (!query) {
        auto prepared = std::make_unique<QSqlQuery>(database);
        if (!prepared->prepare(statement))
            return failure(QStringLiteral("cannot prepare a statement"), prepared->lastError());
        query = std::move(prepared);
    }
    for (int index = 0; index < values.size(); ++index)
        query->bindValue(index, bound(values[index]));
    if (!query->exec())
        return failure(QStringLiteral("cannot write"), query->lastError());
    return query->lastInsertId();
}

// Trimmed by a hundredth of the limit at a time, so that a full journal
// is not trimmed at every entry.
// The count kept with the last snapshot and the entries after it: never a
// scan of the whole journal.
Result<void> RecordStore::countJournal(qint64 generator)
{
    Result<QSqlQuery> kept = run(
            database,
            QStringLiteral("SELECT journal_count, counted_through FROM generators WHERE id = ?"),
            {generator});
    if (!kept)
        return Failure{kept.error()};
    JournalCount count;
    if (kept->next())
        count = {kept->value(0).toLongLong(), kept->value(1).toLongLong()};
    Result<QSqlQuery> after = run(database,
                                  QStringLiteral("SELECT count(*), max(id) FROM journal WHERE id > "
                                                 "? AND generator = ?"),
                                  {count.through, generator});
    if (!after)
        return Failure{after.error()};
    if (after->next() && after->value(0).toLongLong() > 0) {
        count.entries += after->value(0).toLongLong();
        count.through = after->value(1).toLongLong();
    }
    journalCounts.insert(generator, count);
    return {};
}

// Trimmed by a hundredth of the limit at a time, so that a full journal
// is not trimmed at every entry.
Result<void> RecordStore::trimJournal(qint64 generator)
{
    auto counted = journalCounts.find(generator);
    if (counted == journalCounts.end()) {
        if (Result<void> made = countJournal(generator); !made)
            return made;
        counted = journalCounts.find(generator);
    }
    if (counted->entries <= journalLimit)
        return {};
    const qint64 kept = journalLimit - journalLimit / 100;
    const Result<QVariant> trimmed
            = change(QStringLiteral("DELETE FROM journal WHERE id IN (SELECT id FROM journal WHERE "
                                    "generator = ? ORDER BY id LIMIT ?)"),
                     {generator, counted->entries - kept});
    if (!trimmed)
        return Failure{trimmed.error()};
    counted->entries = kept;
    return {};
}

Result<QList<JournalEntry>> RecordStore::journal(const JournalQuery &query)
{
    QString where = QStringLiteral("time_ms >= ?");
    QVariantList values{query.sinceMs};
    if (!query.generators.isEmpty()) {
        QStringList marks;
        for (const qint64 generator : query.generators) {
            marks.append(QStringLiteral("?"));
            values.append(generator);
        }
        where += QStringLiteral(" AND generator IN (%1)").arg(marks.join(u','));
    }
    if (query.channel != 0) {
        where += QStringLiteral(" AND channel = ?");
        values.append(query.channel);
    }
    values.append(query.limit > 0 ? query.limit : -1);
    Result<QSqlQuery> rows = run(
            database,
            QStringLiteral("SELECT * FROM (SELECT id, generator, time_ms, program, client, "
                           "channel, delay_steps, width_steps, frame, reply, outcome FROM journal "
                           "WHERE %1 ORDER BY id DESC LIMIT ?) ORDER BY id")
                    .arg(where),
            values);
    if (!rows)
        return Failure{rows.error()};
    QList<JournalEntry> entries;
    while (rows->next()) {
        JournalEntry entry;
        entry.id = rows->value(0).toLongLong();
        entry.generator = rows->value(1).toLongLong();
        entry.timeMs = rows->value(2).toLongLong();
        entry.program = rows->value(3).toString();
        entry.client = rows->value(4).toString();
        entry.channel = rows->value(5).toInt();
        entry.steps = stepsFrom(rows->value(6), rows->value(7));
        entry.frame = rows->value(8).toString();
        entry.reply = rows->value(9).toString();
        entry.outcome = outcomeNamed(rows->value(10).toString()).value_or(FrameOutcome::Lost);
        entries.append(entry);
    }
    return entries;
}

Result<GeneratorSettings> RecordStore::settings(qint64 generator)
{
    Result<QSqlQuery> rows = run(database,
                                 QStringLiteral("SELECT channel, delay_steps, width_steps, "
                                                "saved_delay_steps, saved_width_steps FROM "
                                                "channels WHERE generator = ?"),
                                 {generator});
    if (!rows)
        return Failure{rows.error()};
    GeneratorSettings settings;
    while (rows->next()) {
        const auto index = size_t(rows->value(0).toInt() - 1);
        if (index >= size_t(kChannelCount))
            continue;
        settings.last[index] = stepsFrom(rows->value(1), rows->value(2));
        settings.saved[index] = stepsFrom(rows->value(3), rows->value(4));
    }
    Result<QSqlQuery> after = run(
            database,
            QStringLiteral("SELECT journal.channel, journal.delay_steps, journal.width_steps, "
                           "journal.outcome FROM journal JOIN generators ON generators.id = "
                           "journal.generator WHERE journal.generator = ? AND journal.id > "
                           "generators.settings_through ORDER BY journal.id"),
            {generator});
    if (!after)
        return Failure{after.error()};
    while (after->next()) {
        JournalEntry entry;
        entry.channel = after->value(0).toInt();
        entry.steps = stepsFrom(after->value(1), after->value(2));
        entry.outcome = outcomeNamed(after->value(3).toString()).value_or(FrameOutcome::Lost);
        applyFrame(settings, entry);
    }
    return settings;
}

Result<ChannelLabelTexts> RecordStore::labels(qint64 generator)
{
    Result<QSqlQuery> rows = run(
            database, QStringLiteral("SELECT channel, label FROM channels WHERE generator = ?"),
            {generator});
    if (!rows)
        return Failure{rows.error()};
    ChannelLabelTexts labels;
    while (rows->next()) {
        const auto index = size_t(rows->value(0).toInt() - 1);
        if (index < size_t(kChannelCount))
            labels[index] = rows->value(1).toString();
    }
    return labels;
}

Result<void> RecordStore::setLabel(qint64 generator, int channel, const QString &label)
{
    const Result<QSqlQuery> kept = run(
            database,
            QStringLiteral("INSERT INTO channels (generator, channel, label) VALUES (?, ?, ?) "
                           "ON CONFLICT DO UPDATE SET label = excluded.label"),
            {generator, channel, label});
    if (!kept)
        return Failure{kept.error()};
    return {};
}

Result<void> RecordStore::storeSetup(qint64 generator, const Setup &setup)
{
    QSqlDatabase db = database;
    return inTransaction(db, [&]() -> Result<void> {
        if (const Result<bool> old = deleteSetup(generator, setup.name); !old)
            return Failure{old.error()};
        Result<QSqlQuery> added = run(
                db,
                QStringLiteral("INSERT INTO setups (generator, name, stored_ms) VALUES (?, ?, ?)"),
                {generator, setup.name, QDateTime::currentMSecsSinceEpoch()});
        if (!added)
            return Failure{added.error()};
        const qint64 id = added->lastInsertId().toLongLong();
        for (const SetupChannel &channel : setup.channels) {
            const Result<QSqlQuery> kept
                    = run(db,
                          QStringLiteral("INSERT INTO setup_channels (setup, channel, delay_steps, "
                                         "width_steps, label) VALUES (?, ?, ?, ?, ?)"),
                          {id, channel.channel, channel.steps.delaySteps, channel.steps.widthSteps,
                           channel.label});
            if (!kept)
                return Failure{kept.error()};
        }
        return {};
    });
}

Result<std::optional<Setup>> RecordStore::setup(qint64 generator, const QString &name)
{
    Result<QSqlQuery> rows = run(
            database,
            QStringLiteral("SELECT setups.id, channel, delay_steps, width_steps, label FROM setups "
                           "LEFT JOIN setup_channels ON setup_channels.setup = setups.id WHERE "
                           "generator = ? AND name = ? ORDER BY channel"),
            {generator, name});
    if (!rows)
        return Failure{rows.error()};
    std::optional<Setup> found;
    while (rows->next()) {
        if (!found)
            found = Setup{name, {}};
        if (rows->value(1).isNull())
            continue; // a setup of no channel
        found->channels.append({rows->value(1).toInt(),
                                {rows->value(2).toInt(), rows->value(3).toInt()},
                                rows->value(4).toString()});
    }
    return found;
}

Result<QStringList> RecordStore::setupNames(qint64 generator)
{
    Result<QSqlQuery> rows = run(
            database, QStringLiteral("SELECT name FROM setups WHERE generator = ? ORDER BY name"),
            {generator});
    if (!rows)
        return Failure{rows.error()};
    QStringList names;
    while (rows->next())
        names.append(rows->value(0).toString());
    return names;
}

Result<bool> RecordStore::deleteSetup(qint64 generator, const QString &name)
{
    Result<QSqlQuery> deleted
            = run(database, QStringLiteral("DELETE FROM setups WHERE generator = ? AND name = ?"),
                  {generator, name});
    if (!deleted)
        return Failure{deleted.error()};
    return deleted->numRowsAffected() > 0;
}
