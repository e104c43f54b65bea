#ifndef HISLIPSESSION_H
#define HISLIPSESSION_H

#include "hislip/hislipchannel.h"
#include "instrument/generatorlock.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>

#include <deque>
#include <optional>

class GeneratorSession;
class QTimer;
class ScpiInterpreter;

// One HiSLIP session: a client of the instrument like a raw socket or a
// VXI-11 link, with its own SCPI conversation (error queue, status
// registers) and its share of the generator's lock, over a synchronous
// connection (lines in, answers out) and an asynchronous one (locks, status
// queries, device clear, the maximum message size).
//
// Synchronized mode only: an answer is a DataEnd message, or Data messages
// and a DataEnd when the client's maximum message size asks for pieces,
// tagged with the MessageID of the client's message in which its line
// ended. Lines are held as the raw socket holds them (kMaxLineBytes, then
// -223), and no more are run while kMaxUnsentBytes of answers wait to go
// out. The session ends when either connection does; lines it had received
// by then still run, unanswered.
class HislipSession : public QObject, private HislipChannel::Receiver
{
    Q_OBJECT

public:
    static constexpr qsizetype kMaxLineBytes = qsizetype{64} * 1024;
    static constexpr qsizetype kMaxUnsentBytes = qsizetype{1024} * 1024;
    // The largest message the client may send, as it is told.
    static constexpr quint64 kMaxMessageBytes = quint64{1024} * 1024;

    // Takes the synchronous connection over, once initialized.
    HislipSession(quint16 id, HislipChannel *synchronous, GeneratorSession &session,
                  GeneratorLock &lock, const QString &name, QObject *parent = nullptr);
    ~HislipSession() override;

    quint16 id() const { return sessionId; }
    bool hasAsynchronous() const { return !async.isNull(); }
    // The synchronous connection's peer, "127.0.0.1:40112".
    QString peer() const;
    // Takes the asynchronous connection over, once it named this session.
    void joinAsynchronous(HislipChannel *asynchronous);

private:
    struct Line
    {
        QByteArray text;
        quint32 messageId = 0; // of the message in which it ended
        bool tooLong = false;
    };
    // What an AsyncLock waits for, and until when.
    struct LockWait
    {
        bool release = false;
        std::optional<QString> sharedKey; // a request: shared, or exclusive
        quint32 messageId = 0;            // a release: after this message has run
        QDeadlineTimer deadline;
    };

    void receive(HislipChannel &channel, const HislipHeader &header,
                 const QByteArray &payload) override;
    void receiveData(HislipChannel &channel, const HislipHeader &header, const QByteArray &piece,
                     bool first, bool last) override;
    qsizetype dataRoom() const override;
    void lost(HislipChannel &channel, HislipChannel::Loss loss) override;

    void receiveSynchronous(const HislipHeader &header);
    void receiveAsynchronous(const HislipHeader &header, const QByteArray &payload);
    bool refuseUnknown(HislipChannel &channel, const HislipHeader &header);
    void takeText(const QByteArray &piece, quint32 messageId);
    void queueLine(QByteArray text, quint32 messageId, bool tooLong = false);
    void runLines();
    void answered(const QByteArray &response);
    void sendAnswer(const QByteArray &answer);
    int statusByte() const;
    void beginDeviceClear();
    void setMaximumMessageSize(const QByteArray &payload);
    void lock(const HislipHeader &header, const QByteArray &payload);
    void serviceLockWait();
    void answerLock(HislipLockResult result);
    void failBoth(HislipFatal code, const QString &text);
    void end();
    void finishIfEnding();

    const quint16 sessionId;
    const LockHolder client;
    ScpiInterpreter *interpreter;
    QPointer<HislipChannel> sync;
    QPointer<HislipChannel> async;
    QTimer *lockTimer;
    std::optional<LockWait> lockWait;
    std::deque<Line> lines;
    qsizetype queuedBytes = 0;
    QByteArray partialLine;
    bool skippingLongLine = false;
    bool runningLines = false;
    quint32 runningMessageId = 0;
    quint32 lastMessageId = kHislipFirstMessageId - 2; // the last received whole
    quint64 clientMaxMessageBytes = ~quint64(0);
    bool answerUnread = false; // the message available bit
    bool clearing = false;     // between AsyncDeviceClear and DeviceClearComplete
    int answersToDrop = 0;     // of a line that ran at a device clear
    bool ending = false;
};

#endif // HISLIPSESSION_H
