#include "session/generatorrecord.h"

#include "common/escapedbytes.h"
#include "device/commandframes.h"
#include "record/recordtexts.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QLoggingCategory>
#include <QTimer>

#include <algorithm>

Q_LOGGING_CATEGORY(lcRecord, "kestrane.record")

namespace {

// Kept and settled, held a while: enough for a late reply to find its frame.
constexpr size_t kFramesKept = 8;

} // namespace

QString defaultRecordPath()
{
    // A system service's own state folder (systemd's StateDirectory=).
    const QString service = qEnvironmentVariable("STATE_DIRECTORY").section(u':', 0, 0);
    if (QDir::isAbsolutePath(service))
        return service + QStringLiteral("/record.sqlite");
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // Only an absolute path counts, as the base directory rules say.
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/kestrane/record.sqlite");
}

FrameOutcome outcomeOfReply(const QByteArray &reply)
{
    if (isRefusal(reply))
        return FrameOutcome::Refused;
    return reply.isEmpty() ? FrameOutcome::NoReply : FrameOutcome::Ok;
}

Result<JournalReading> readJournal(const QString &path, const QList<GeneratorKey> &generators,
                                   JournalQuery query)
{
    const Result<std::unique_ptr<RecordStore>> store = RecordStore::openForReading(path);
    if (!store)
        return Failure{store.error()};
    const auto known = store.value()->generators();
    if (!known)
        return Failure{known.error()};
    JournalReading reading;
    for (const auto &[id, key] : known.value()) {
        const bool named = std::any_of(
                generators.begin(), generators.end(), [&key = key](const GeneratorKey &wanted) {
                    return wanted.serialNumber.isEmpty() ? key.portPath == wanted.portPath
                                                         : key.serialNumber == wanted.serialNumber;
                });
        if (generators.isEmpty() || named) {
            reading.generatorNames.insert(id, key.text());
            query.generators.append(id);
        }
    }
    if (query.generators.isEmpty())
        return reading;
    const Result<QList<JournalEntry>> entries = store.value()->journal(query);
    if (!entries)
        return Failure{entries.error()};
    reading.entries = entries.value();
    return reading;
}

GeneratorRecord::GeneratorRecord(const RecordSettings &settings, QObject *parent) :
    QObject(parent),
    recordSettings{settings.enabled, settings.path.isEmpty() ? defaultRecordPath() : settings.path,
                   settings.journalLimit},
    settleTimer(new QTimer(this)),
    snapshotTimer(new QTimer(this))
{
    for (QTimer *timer : {settleTimer, snapshotTimer})
        timer->setSingleShot(true);
    settleTimer->setInterval(kSettleDelayMs);
    snapshotTimer->setInterval(kSnapshotDelayMs);
    connect(settleTimer, &QTimer::timeout, this, [this] { keepPending(Snapshotting::No); });
    connect(snapshotTimer, &QTimer::timeout, this, [this] { keepPending(Snapshotting::Yes); });
    // Opened at once, so that a record that does not work is said at start.
    usableStore(Use::Reading);
}

GeneratorRecord::~GeneratorRecord()
{
    flush();
}

RecordStore *GeneratorRecord::usableStore(Use use)
{
    if (!recordSettings.enabled)
        return nullptr;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const bool mayTry = currentProblem.isEmpty() || now - lastTryMs >= kRetryIntervalMs;
    if (!store || (generatorId == 0 && !key.isEmpty())) {
        if (!mayTry)
            return nullptr;
        lastTryMs = now;
        if (!store) {
            Result<std::unique_ptr<RecordStore>> opened
                    = checked(RecordStore::open(recordSettings.path, recordSettings.journalLimit),
                              Use::Reading);
            if (!opened)
                return nullptr;
            store = std::move(opened.value());
        }
        if (!key.isEmpty() && !readGenerator())
            return nullptr;
    } else if (use == Use::Writing) {
        if (!mayTry)
            return nullptr;
        lastTryMs = now;
    }
    return generatorId != 0 || key.isEmpty() ? store.get() : nullptr;
}

template<typename T>
Result<T> GeneratorRecord::checked(Result<T> result, Use use)
{
    if (!result)
        setProblem(result.error());
    else if (use == Use::Writing)
        setProblem({});
    return result;
}

void GeneratorRecord::setProblem(const QString &problem)
{
    if (problem == currentProblem)
        return;
    const bool worked = currentProblem.isEmpty();
    currentProblem = problem;
    if (worked) {
        ++problems;
        qCWarning(lcRecord).noquote()
                << QStringLiteral("the record does not work: %1; control goes on without it")
                           .arg(problem);
    } else if (problem.isEmpty()) {
        qCWarning(lcRecord).noquote()
                << QStringLiteral("the record works again (%1 frames sent meanwhile are not in its "
                                  "journal)")
                           .arg(std::exchange(unkeptFrames, 0));
    }
    emit problemChanged(currentProblem);
}

Failure<> GeneratorRecord::unavailable() const
{
    if (!recordSettings.enabled)
        return Failure{QStringLiteral("no record is kept")};
    if (!currentProblem.isEmpty())
        return Failure{currentProblem};
    return Failure{QStringLiteral("no generator is known yet")};
}

void GeneratorRecord::setGenerator(const GeneratorKey &newKey)
{
    if (newKey.serialNumber == key.serialNumber && newKey.portPath == key.portPath)
        return;
    flush();
    key = newKey;
    generatorId = 0;
    known = {};
    knownThroughTicket = 0;
    knownThroughId = 0;
    sent.clear();
    usableStore(Use::Reading);
}

// What this program set while the record did not work stands over what the
// record held.
Result<void> GeneratorRecord::readGenerator()
{
    const Result<qint64> id = checked(store->generatorId(key), Use::Writing);
    if (!id)
        return Failure{id.error()};
    const Result<GeneratorSettings> kept = checked(store->settings(id.value()), Use::Reading);
    if (!kept)
        return Failure{kept.error()};
    for (int index = 0; index < kChannelCount; ++index) {
        if (!known.last[size_t(index)])
            known.last[size_t(index)] = kept->last[size_t(index)];
        if (!known.saved[size_t(index)])
            known.saved[size_t(index)] = kept->saved[size_t(index)];
    }
    generatorId = id.value();
    return {};
}

qint64 GeneratorRecord::frameSent(const QString &client, const QByteArray &frame, int channel,
                                  std::optional<PulseSteps> steps)
{
    if (!recordSettings.enabled || key.isEmpty())
        return 0;
    // A small journal keeps a snapshot before it trims what one still needs.
    if (framesSinceSnapshot
        >= std::clamp(recordSettings.journalLimit / 2, qint64(1), qint64(kFramesPerSnapshot)))
        keepPending(Snapshotting::Yes);
    Sent record;
    record.ticket = nextTicket++;
    record.entry.timeMs = QDateTime::currentMSecsSinceEpoch();
    record.entry.program = QCoreApplication::applicationName();
    record.entry.client = client;
    record.entry.frame = QString::fromLatin1(escapedBytes(frame));
    record.entry.channel = steps ? channel : 0;
    record.entry.steps = steps;
    sent.push_back(std::move(record));
    if (sent.size() > size_t(kMostFramesHeld)) {
        sent.pop_front();
        ++unkeptFrames;
    }
    ++framesSinceSnapshot;
    keepPending(Snapshotting::No);
    snapshotTimer->start();
    return sent.back().ticket;
}

GeneratorRecord::Sent *GeneratorRecord::findSent(qint64 ticket)
{
    const auto found = std::find_if(sent.begin(), sent.end(), [ticket](const Sent &record) {
        return record.ticket == ticket;
    });
    return found == sent.end() ? nullptr : &*found;
}

void GeneratorRecord::frameSettled(qint64 ticket, const QByteArray &reply, FrameOutcome outcome,
                                   Finality finality)
{
    Sent *record = findSent(ticket);
    if (record == nullptr)
        return;
    JournalEntry &entry = record->entry;
    entry.reply = QString::fromLatin1(escapedBytes(reply));
    entry.outcome = outcome;
    if (entry.id != 0)
        settled.append(ticket);
    // Frames are final in the order they were sent: nothing is sent while a
    // late reply may come.
    if (finality == Finality::Final) {
        applyFrame(known, entry);
        knownThroughTicket = ticket;
        knownThroughId = entry.id;
    }
    settleTimer->start();
}

void GeneratorRecord::flush()
{
    settleTimer->stop();
    snapshotTimer->stop();
    keepPending(Snapshotting::Yes);
}

void GeneratorRecord::keepPending(Snapshotting snapshotting)
{
    QList<JournalEntry *> added;
    const JournalEntry *lastKnown = nullptr;
    for (Sent &record : sent) {
        if (record.entry.id == 0)
            added.append(&record.entry);
        if (record.ticket == knownThroughTicket)
            lastKnown = &record.entry;
    }
    const bool snapshot = snapshotting == Snapshotting::Yes && framesSinceSnapshot > 0;
    if (added.isEmpty() && settled.isEmpty() && !snapshot)
        return;
    RecordStore *usable = usableStore(Use::Writing);
    if (usable == nullptr)
        return; // held, and tried again with the next frame or flush
    RecordStore::Changes changes;
    changes.generator = generatorId;
    changes.added = added;
    for (const qint64 ticket : std::as_const(settled)) {
        if (const Sent *record = findSent(ticket))
            changes.settled.append(&record->entry);
    }
    // Entries not final yet come after it: their settings are not known.
    // Without the exact last entry it includes, there is none.
    if (snapshot && (lastKnown != nullptr || knownThroughId != 0))
        changes.snapshot = RecordStore::Snapshot{known, lastKnown, knownThroughId};
    if (!checked(usable->commit(changes), Use::Writing))
        return;
    settled.clear();
    if (lastKnown != nullptr)
        knownThroughId = lastKnown->id;
    if (changes.snapshot)
        framesSinceSnapshot = 0;
    // Held a while more for a late reply.
    while (sent.size() > kFramesKept && sent.front().entry.id != 0)
        sent.pop_front();
}

Result<QString> GeneratorRecord::label(int channel)
{
    if (channel < 1 || channel > kChannelCount)
        return Failure{QStringLiteral("no channel %1").arg(channel)};
    const Result<ChannelLabelTexts> all = labels();
    if (!all)
        return Failure{all.error()};
    return all.value()[size_t(channel - 1)];
}

// Read anew each time: another program (kestrane-ctl label) may change them.
Result<ChannelLabelTexts> GeneratorRecord::labels()
{
    RecordStore *usable = usableStore(Use::Reading);
    if (usable == nullptr || generatorId == 0)
        return unavailable();
    return checked(usable->labels(generatorId), Use::Reading);
}

Result<void> GeneratorRecord::setLabel(int channel, const QString &label)
{
    if (channel < 1 || channel > kChannelCount)
        return Failure{QStringLiteral("no channel %1").arg(channel)};
    const Result<QString> checkedText = checkedLabel(label);
    if (!checkedText)
        return Failure{checkedText.error()};
    RecordStore *usable = usableStore(Use::Writing);
    if (usable == nullptr || generatorId == 0)
        return unavailable();
    Result<void> kept
            = checked(usable->setLabel(generatorId, channel, checkedText.value()), Use::Writing);
    if (!kept)
        return kept;
    emit labelChanged(channel, checkedText.value());
    return {};
}

Result<void> GeneratorRecord::storeSetup(const QString &name, const QList<SetupChannel> &channels)
{
    const Result<QString> checkedName = checkedSetupName(name);
    if (!checkedName)
        return Failure{checkedName.error()};
    RecordStore *usable = usableStore(Use::Writing);
    if (usable == nullptr || generatorId == 0)
        return unavailable();
    return checked(usable->storeSetup(generatorId, {checkedName.value(), channels}), Use::Writing);
}

Result<std::optional<Setup>> GeneratorRecord::setup(const QString &name)
{
    RecordStore *usable = usableStore(Use::Reading);
    if (usable == nullptr || generatorId == 0)
        return unavailable();
    return checked(usable->setup(generatorId, name), Use::Reading);
}

Result<QStringList> GeneratorRecord::setupNames()
{
    RecordStore *usable = usableStore(Use::Reading);
    if (usable == nullptr || generatorId == 0)
        return unavailable();
    return checked(usable->setupNames(generatorId), Use::Reading);
}

Result<bool> GeneratorRecord::deleteSetup(const QString &name)
{
    RecordStore *usable = usableStore(Use::Writing);
    if (usable == nullptr || generatorId == 0)
        return unavailable();
    return checked(usable->deleteSetup(generatorId, name), Use::Writing);
}

Result<QList<JournalEntry>> GeneratorRecord::recentJournal(int count)
{
    flush(); // the last frames too
    RecordStore *usable = usableStore(Use::Reading);
    if (usable == nullptr || generatorId == 0)
        return unavailable();
    return checked(usable->journal({{generatorId}, 0, 0, count}), Use::Reading);
}
