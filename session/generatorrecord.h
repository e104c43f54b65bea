#ifndef GENERATORRECORD_H
#define GENERATORRECORD_H

// What a program keeps of the generator it drives, in the host's record
// (record/recordstore.h): every frame it sends with what became of it, the
// channels' labels, their last settings and the settings at the last save,
// and named setups. Every program reaches the record through this class.
//
// A frame goes into the journal as it is sent, with the outcome "lost",
// in a transaction of its own while the generator works on it: a frame
// whose answer a client saw is in the record even when the program is
// killed a moment later. What became of a frame goes in with the next
// frame, or kSettleDelayMs after it was known when no frame follows (after
// a kill, the last frame's outcome may read "lost"). A snapshot of the
// generator's settings as the journal tells them (applyFrame) is kept
// every kFramesPerSnapshot frames and kSnapshotDelayMs after the last, so
// that reading them replays only the entries after it.
//
// A record that cannot be opened or written never stops control: the
// program says so once (the warning "kestrane.record: ...", problem() and
// problemChanged()), goes on without it, tries again at most once a second
// and says when it works again.

#include "common/result.h"
#include "record/journalentry.h"
#include "record/recordstore.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <deque>
#include <memory>

class QTimer;

// Where a program keeps its record and how much of the journal.
struct RecordSettings
{
    bool enabled = true;
    QString path; // empty: defaultRecordPath()
    qint64 journalLimit = kDefaultJournalLimit;
};

// What a long-running program sends once it has opened the generator.
enum class RestoreMode {
    None,  // nothing: every channel is unknown until set
    Last,  // each channel's last setting the generator did not refuse
    Saved, // the settings as they stood at the last save it did not refuse
};

// record.sqlite in a system service's state folder ($STATE_DIRECTORY, set
// by systemd), else $XDG_STATE_HOME/kestrane/record.sqlite, with
// ~/.local/state when that is unset.
QString defaultRecordPath();

// What became of a frame from its reply alone, for a program that waits
// for it once: a refusal, no reply, or else ok.
FrameOutcome outcomeOfReply(const QByteArray &reply);

// What a program reads of the journal without driving a generator: the
// entries of the generators named (every generator's when none is), and
// each generator's name for people ("serial 2065327A5344").
struct JournalReading
{
    QList<JournalEntry> entries;
    QHash<qint64, QString> generatorNames;
};
Result<JournalReading> readJournal(const QString &path, const QList<GeneratorKey> &generators,
                                   JournalQuery query);

class GeneratorRecord : public QObject
{
    Q_OBJECT

public:
    static constexpr int kSettleDelayMs = 5;
    static constexpr int kSnapshotDelayMs = 1000;
    static constexpr int kRetryIntervalMs = 1000;
    static constexpr int kFramesPerSnapshot = 100;
    // Frames held while the record does not work; the oldest go beyond it.
    static constexpr int kMostFramesHeld = 10000;

    // Whether more may be learnt of a frame: a reply may still come late.
    enum class Finality { Final, Provisional };

    explicit GeneratorRecord(const RecordSettings &settings, QObject *parent = nullptr);
    // Keeps what is still unkept.
    ~GeneratorRecord() override;

    // The generator whose record the calls below use from now on.
    void setGenerator(const GeneratorKey &key);
    bool hasGenerator() const { return generatorId != 0; }
    GeneratorKey generator() const { return key; }

    // A frame just sent for `client` (a set frame when `steps` is given,
    // else a save); returns its ticket for frameSettled().
    qint64 frameSent(const QString &client, const QByteArray &frame, int channel,
                     std::optional<PulseSteps> steps);
    // What became of it, once it is final; a provisional outcome (no reply
    // yet) is followed by the final one.
    void frameSettled(qint64 ticket, const QByteArray &reply, FrameOutcome outcome,
                      Finality finality = Finality::Final);
    // Keeps everything now.
    void flush();

    // The settings to start a generator from, as the journal tells them.
    const GeneratorSettings &settings() const { return known; }

    // Empty when none; fails when the record is not available.
    Result<QString> label(int channel);
    Result<ChannelLabelTexts> labels();
    // Checks the label (record/recordtexts.h) and keeps it.
    Result<void> setLabel(int channel, const QString &label);

    Result<void> storeSetup(const QString &name, const QList<SetupChannel> &channels);
    Result<std::optional<Setup>> setup(const QString &name);
    Result<QStringList> setupNames();
    Result<bool> deleteSetup(const QString &name);

    // This generator's last `count` entries, oldest first.
    Result<QList<JournalEntry>> recentJournal(int count);

    // Whether the program keeps a record at all (not with --no-record).
    bool isKept() const { return recordSettings.enabled; }
    // Why the record does not work, or empty.
    QString problem() const { return currentProblem; }
    // Counts the times the record stopped working, for front ends that tell
    // each client once a time.
    int problemCount() const { return problems; }

signals:
    void problemChanged(const QString &problem);
    void labelChanged(int channel, const QString &label);

private:
    struct Sent
    {
        qint64 ticket = 0;
        JournalEntry entry; // its id set once kept
    };

    enum class Use { Reading, Writing };
    // The store with the generator's record, opened when needed; null while
    // it is not available. While the record does not work, it is tried at
    // most once a second, and writing is what tells whether it works again.
    RecordStore *usableStore(Use use);
    Result<void> readGenerator();
    Sent *findSent(qint64 ticket);
    enum class Snapshotting { No, Yes };
    // What became of the frames, the frames not kept yet, and a snapshot.
    void keepPending(Snapshotting snapshotting);
    // A failure says that the record does not work; a write that succeeds,
    // that it works again.
    template<typename T>
    Result<T> checked(Result<T> result, Use use);
    void setProblem(const QString &problem);
    Failure<> unavailable() const;

    const RecordSettings recordSettings;
    std::unique_ptr<RecordStore> store;
    qint64 lastTryMs = 0;
    QString currentProblem;
    int problems = 0;
    qint64 unkeptFrames = 0;

    GeneratorKey key;
    qint64 generatorId = 0;

    GeneratorSettings known;
    qint64 knownThroughTicket = 0; // the last entry that `known` includes
    qint64 knownThroughId = 0;     // its id, once kept

    std::deque<Sent> sent; // not all kept yet, and the last few before
    qint64 nextTicket = 1;
    int framesSinceSnapshot = 0;
    QList<qint64> settled; // tickets of kept entries whose outcome changed
    QTimer *settleTimer;
    QTimer *snapshotTimer;
};

#endif // GENERATORRECORD_H
