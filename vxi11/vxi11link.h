#ifndef VXI11LINK_H
#define VXI11LINK_H

#include "instrument/generatorlock.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QDeadlineTimer>
#include <QObject>

#include <functional>
#include <list>
#include <optional>

class GeneratorSession;
class QTimer;
class ScpiInterpreter;

// VXI-11's error numbers, where the standard puts them: the one list.
enum class Vxi11Error : long {
    None = 0,
    DeviceNotAccessible = 3,
    InvalidLink = 4,
    ParameterError = 5,
    NotSupported = 8,
    OutOfResources = 9,
    DeviceLocked = 11,
    NoLockHeld = 12,
    IoTimeout = 15,
};

// One VXI-11 link: a client of the instrument like a raw socket, with its
// own SCPI conversation (error queue, status registers), its own answers
// waiting to be read, and its share of the generator's lock. Calls that
// cannot finish at once (a read before the answer is there, a write while
// the last message still runs or another client holds the lock, a lock held
// elsewhere) finish later or when their timeout passes.
class Vxi11Link : public QObject
{
    Q_OBJECT

public:
    using WriteDone = std::function<void(Vxi11Error error)>;
    using ReadDone = std::function<void(Vxi11Error error, long reason, const QByteArray &data)>;
    using LockDone = std::function<void(Vxi11Error error)>;

    // Why device_read returned.
    static constexpr long kReasonRequestCount = 0x01;
    static constexpr long kReasonTermChar = 0x02;
    static constexpr long kReasonEnd = 0x04;

    Vxi11Link(GeneratorSession &session, GeneratorLock &lock, const QString &name,
              QObject *parent = nullptr);
    ~Vxi11Link() override;

    // A piece of a command message; `end` says it is the last. A message
    // that would send to the generator waits for the lock up to lockWaitMs.
    void write(const QByteArray &data, bool end, int lockWaitMs, int ioTimeoutMs,
               const WriteDone &done);
    // The next answer, or its next requestSize bytes, up to termChar if given.
    void read(qsizetype requestSize, std::optional<char> termChar, int ioTimeoutMs,
              const ReadDone &done);
    // IEEE 488.2's status byte, with message available (bit 4) while an
    // answer waits to be read.
    int statusByte() const;
    // Drops the answers not read and the input not run; the error queue stays.
    void clear();
    void lock(int waitMs, const LockDone &done);
    bool unlock();

private:
    // A call waiting for something to happen: `finish` finishes it if it
    // can now; at its deadline `expire` finishes it with its timeout's
    // error, or gives a later deadline to wait for.
    struct Wait
    {
        std::function<bool()> finish;
        std::function<std::optional<QDeadlineTimer>()> expire;
        QDeadlineTimer deadline;
    };

    void wait(Wait next);
    void serviceWaits();
    bool takeMessage(const QByteArrayList &messageLines, bool needsLock,
                     const QDeadlineTimer &lockDeadline, const WriteDone &done);
    void runLines();
    void answered(const QByteArray &response);

    const LockHolder client;
    ScpiInterpreter *interpreter;
    QTimer *waitTimer;
    std::list<Wait> waits;
    bool servicingWaits = false;
    bool serviceAgain = false;
    QByteArray message;           // a command message still coming in pieces
    bool skippingMessage = false; // the rest of an over-long one
    QByteArrayList lines;         // a whole message's lines not run yet
    QByteArray answers;           // answers not read yet, each ending in "\n"
    int answersToDrop = 0;        // of lines that were running at a clear
};

#endif // VXI11LINK_H
