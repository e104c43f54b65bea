#ifndef GENERATORRECORD_H
#define GENERATORRECORD_H

// What a program keeps of the generator it drives, in the host's record
// (record/recordstore.h): every frame it sends with what became of it, the
// channels' labels, their last settings and the settings at the last save,
// and named setups. Every program reaches the record through this class.
//
// A frame is kept in the journal as it is sent, with the outcome "lost",
// and the generator is taken to hold its setting (its last setting, or for
// a save its saved settings); a refusal takes that back. What became of a
// frame is kept with the next frame sent, or kSettleDelayMs after it was
// known. So a frame whose answer a client saw is in the record even when
// the program is killed a moment later, and the record costs the exchange
// nothing while the generator works on the frame.
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
    static constexpr int kSettleDelayMs = 50;
    static constexpr int kRetryIntervalMs = 1000;

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
    // What became of it; may come again (a late reply after no reply).
    void frameSettled(qint64 ticket, const QByteArray &reply, FrameOutcome outcome);
    // Keeps everything now.
    void flush();

    // The settings to start a generator from: the last ones it did not
    // refuse, or those at its last save.
    ChannelStates channelStates() const { return states; }

    // Empty when none; fails when the record is not available.
    Result<QString> label(int channel);
    Result<std::array<QString, kChannelCount>> labels();
    // Checks the label (record/recordtexts.h) and keeps it.
    Result<void> setLabel(int channel, const QString &label);

    Result<void> storeSetup(const QString &name, const QList<SetupChannel> &channels);
    Result<std::optional<Setup>> setup(const QString &name);
    Result<QStringList> setupNames();
    Result<bool> deleteSetup(const QString &name);

    // This generator's last `count` entries, oldest first.
    Result<QList<JournalEntry>> recentJournal(int count);

    // Whether the program keeps a record at all (not with --no-record).
    bool isKept() const { return settings.enabled; }
    // Why the record does not work, or empty.
    QString problem() const { return currentProblem; }
    // Counts the times the record stopped working, for front ends that tell
    // each client once a time.
    int problemCount() const { return problems; }

signals:
    void problemChanged(const QString &problem);
    void labelChanged(int channel);

private:
    struct Sent
    {
        qint64 ticket = 0;
        JournalEntry entry;                   // its id set once kept
        bool tried = false;                   // offered to the store once
        std::optional<PulseSteps> lastBefore; // a set frame's channel
        std::array<std::optional<PulseSteps>, kChannelCount> savedBefore; // a save
    };

    enum class Use { Reading, Writing };
    // The store with the generator's record, opened when needed; null while
    // it is not available. While the record does not work, it is tried at
    // most once a second, and writing is what tells whether it works again.
    RecordStore *usableStore(Use use);
    Result<void> readGenerator();
    Sent *findSent(qint64 ticket);
    void commitPending();
    // A failure says that the record does not work; a write that succeeds,
    // that it works again.
    template<typename T>
    Result<T> checked(Result<T> result, Use use);
    void setProblem(const QString &problem);
    Failure<> unavailable() const;

    const RecordSettings settings;
    std::unique_ptr<RecordStore> store;
    qint64 lastTryMs = 0;
    QString currentProblem;
    int problems = 0;
    qint64 unkeptFrames = 0;

    GeneratorKey key;
    qint64 generatorId = 0;
    ChannelStates states;

    std::deque<Sent> sent; // the last few frames, for their settling
    qint64 nextTicket = 1;
    QList<qint64> pendingSettled; // tickets
    QList<int> pendingChannels;   // whose settings changed
    QTimer *settleTimer;
};

#endif // GENERATORRECORD_H
