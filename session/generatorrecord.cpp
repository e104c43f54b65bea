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

// Enough for a late reply to find its frame.
constexpr size_t kFramesKept = 8;

bool sameSteps(const std::optional<PulseSteps> &a, const std::optional<PulseSteps> &b)
{
    return a.has_value() == b.has_value()
           && (!a || (a->delaySteps == b->delaySteps && a->widthSteps == b->widthSteps));
}

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
    settings{settings.enabled, settings.path.isEmpty() ? defaultRecordPath() : settings.path,
             settings.journalLimit},
    settleTimer(new QTimer(this))
{
    settleTimer->setSingleShot(true);
    settleTimer->setInterval(kSettleDelayMs);
    connect(settleTimer, &QTimer::timeout, this, &GeneratorRecord::commitPending);
    // Opened at once, so that a record that does not work is said at start.
    usableStore(Use::Reading);
}

GeneratorRecord::~GeneratorRecord()
{
    flush();
}

RecordStore *GeneratorRecord::usableStore(Use use)
{
    if (!settings.enabled)
        return nullptr;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const bool mayTry = currentProblem.isEmpty() || now - lastTryMs >= kRetryIntervalMs;
    if (!store || (generatorId == 0 && !key.isEmpty())) {
        if (!mayTry)
            return nullptr;
        lastTryMs = now;
        if (!store) {
            Result<std::unique_ptr<RecordStore>> opened = checked(
                    RecordStore::open(settings.path, settings.journalLimit), Use::Reading);
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
    if (!settings.enabled)
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
    states = {};
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
    const Result<ChannelStates> kept = checked(store->channelStates(id.value()), Use::Reading);
    if (!kept)
        return Failure{kept.error()};
    for (int index = 0; index < kChannelCount; ++index) {
        ChannelRecordState &state = states[size_t(index)];
        const ChannelRecordState &stored = kept.value()[size_t(index)];
        state.label = stored.label;
        if (!state.last)
            state.last = stored.last;
        if (!state.saved)
            state.saved = stored.saved;
    }
    generatorId = id.value();
    return {};
}

qint64 GeneratorRecord::frameSent(const QString &client, const QByteArray &frame, int channel,
                                  std::optional<PulseSteps> steps)
{
    if (!settings.enabled || key.isEmpty())
        return 0;
    Sent record;
    record.ticket = nextTicket++;
    record.entry.timeMs = QDateTime::currentMSecsSinceEpoch();
    record.entry.program = QCoreApplication::applicationName();
    record.entry.client = client;
    record.entry.frame = QString::fromLatin1(escapedBytes(frame));
    if (steps) {
        record.entry.channel = channel;
        record.entry.steps = steps;
        record.lastBefore = std::exchange(states[size_t(channel - 1)].last, steps);
        pendingChannels.append(channel);
    } else {
        for (int index = 0; index < kChannelCount; ++index) {
            ChannelRecordState &state = states[size_t(index)];
            record.savedBefore[size_t(index)] = std::exchange(state.saved, state.last);
            pendingChannels.append(index + 1);
        }
    }
    sent.push_back(std::move(record));
    if (sent.size() > kFramesKept)
        sent.pop_front();
    commitPending();
    return sent.back().ticket;
}

GeneratorRecord::Sent *GeneratorRecord::findSent(qint64 ticket)
{
    const auto found = std::find_if(sent.begin(), sent.end(), [ticket](const Sent &record) {
        return record.ticket == ticket;
    });
    return found == sent.end() ? nullptr : &*found;
}

void GeneratorRecord::frameSettled(qint64 ticket, const QByteArray &reply, FrameOutcome outcome)
{
    Sent *record = findSent(ticket);
    if (record == nullptr)
        return;
    JournalEntry &entry = record->entry;
    const bool refusedBefore = entry.outcome == FrameOutcome::Refused;
    entry.reply = QString::fromLatin1(escapedBytes(reply));
    entry.outcome = outcome;
    // A refused frame's setting was never the generator's.
    if (outcome == FrameOutcome::Refused && !refusedBefore) {
        if (entry.steps) {
            ChannelRecordState &state = states[size_t(entry.channel - 1)];
            if (sameSteps(state.last, entry.steps))
                state.last = record->lastBefore;
            pendingChannels.append(entry.channel);
        } else {
            for (int index = 0; index < kChannelCount; ++index) {
                states[size_t(index)].saved = record->savedBefore[size_t(index)];
                pendingChannels.append(index + 1);
            }
        }
    }
    if (entry.id != 0)
        pendingSettled.append(ticket);
    settleTimer->start();
}

void GeneratorRecord::flush()
{
    settleTimer->stop();
    commitPending();
}

void GeneratorRecord::commitPending()
{
    QList<JournalEntry *> added;
    for (Sent &record : sent) {
        if (!std::exchange(record.tried, true))
            added.append(&record.entry);
    }
    if (added.isEmpty() && pendingSettled.isEmpty() && pendingChannels.isEmpty())
        return;
    const bool recovering = !currentProblem.isEmpty();
    RecordStore *usable = usableStore(Use::Writing);
    if (usable == nullptr) {
        unkeptFrames += added.size();
        pendingSettled.clear();
        pendingChannels.clear();
        return;
    }
    RecordStore::Changes changes;
    changes.generator = generatorId;
    changes.added = added;
    for (const qint64 ticket : std::as_const(pendingSettled)) {
        if (const Sent *record = findSent(ticket))
            changes.settled.append(&record->entry);
    }
    // After a time without the record, every channel is written anew.
    for (int channel = 1; channel <= kChannelCount; ++channel) {
        if (recovering || pendingChannels.contains(channel))
            changes.settings.append({channel, states[size_t(channel - 1)]});
    }
    pendingSettled.clear();
    pendingChannels.clear();
    if (!checked(usable->commit(changes), Use::Writing))
        unkeptFrames += added.size();
}

Result<QString> GeneratorRecord::label(int channel)
{
    const Result<std::array<QString, kChannelCount>> all = labels();
    if (!all)
        return Failure{all.error()};
    return all.value()[size_t(channel - 1)];
}

// Read anew each time: another program (kestrane-ctl label) may change them.
Result<std::array<QString, kChannelCount>> GeneratorRecord::labels()
{
    RecordStore *usable = usableStore(Use::Reading);
    if (usable == nullptr || generatorId == 0)
        return unavailable();
    const Result<ChannelStates> kept = checked(usable->channelStates(generatorId), Use::Reading);
    if (!kept)
        return Failure{kept.error()};
    std::array<QString, kChannelCount> found;
    for (int index = 0; index < kChannelCount; ++index)
        found[size_t(index)] = kept.value()[size_t(index)].label;
    return found;
}

Result<void> GeneratorRecord::setLabel(int channel, const QString &label)
{
    const Result<QString> checkedText = checkedLabel(label);
    if (!checkedText)
        return Failure{checkedText.error()};
    RecordStore *usable = usableStore(Use::Writing);
    if (usable == nullptr || generatorId == 0)
        return unavailable();
    const Result<void> kept
            = checked(usable->setLabel(generatorId, channel, checkedText.value()), Use::Writing);
    if (!kept)
        return kept;
    states[size_t(channel - 1)].label = checkedText.value();
    emit labelChanged(channel);
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
    flush(); // what became of the last frames, rather than "lost"
    RecordStore *usable = usableStore(Use::Reading);
    if (usable == nullptr || generatorId == 0)
        return unavailable();
    return checked(usable->journal({{generatorId}, 0, 0, count}), Use::Reading);
}
