#ifndef GENERATORSESSION_H
#define GENERATORSESSION_H

// A long-running program's one owner of a generator's serial port.
//
// How a front end uses it:
// - Check the port to serve first (session/requestedport.h): a named port
//   that can never serve, or several generators attached, is the operator's
//   mistake to report.
// - Make one GeneratorSession on the Qt thread and call start(). It opens the
//   port, or waits for it, and whenever the link is down it tries again at most
//   once a second; it never polls while the link is up.
// - setPulse(), save(), resetChannels() and loadSetup() queue one command and
//   return at once. Commands from every caller run one exchange at a time, in
//   the order queued; `done` is called on the session's thread, never from
//   inside the call that queued it, with a SessionOutcome that tells the
//   command's fate. Times are in ps; the session rounds and checks them
//   (pulse/pulsesteps.h). `client` names who asked, for the record's journal.
// - keepRecord() has the session keep the host's record of the generator
//   (session/generatorrecord.h: the journal of every frame, labels, setups)
//   and start it from its last or its saved settings once the link is up.
// - channel(), isLinkUp(), portName(), serialNumber() and lastReply() read the
//   session's current knowledge. The generator cannot be read back: a channel
//   is known only once this session has set it since the link last came up,
//   and not after the generator refused it. A front end answering a query
//   reads them from afterPending(), so that the answer reflects every command
//   queued before the query by anyone; isIdle() says when it may read at once.
// - linkChanged() and channelChanged() say when that knowledge changes, for
//   front ends that push change events.
// - Every member must be used on the session's thread. A front end serving
//   requests on other threads uses SessionCalls (session/sessioncalls.h).
// - Commands still queued when the session is destroyed are answered then,
//   with LinkDown; their `done` must not use the session any more.

#include "device/exchange.h"
#include "device/portdiscovery.h"
#include "pulse/channelrecords.h"
#include "pulse/pulsesteps.h"
#include "session/generatorrecord.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <array>
#include <deque>
#include <functional>
#include <optional>

class QSerialPort;
class QSocketNotifier;
class QTimer;

enum class SessionStatus {
    Done,             // every frame went out and none was refused
    LinkLost,         // the link broke during this command
    LinkDown,         // there was no link: nothing was sent
    OutOfRange,       // a channel or a time outside its range: nothing was sent
    OverBudget,       // delay plus width over the budget: nothing was sent
    OtherTimeUnknown, // delay or width alone while the other is unknown: nothing was sent
    Refused,          // the generator answered a frame with "ERR"
    NotFound,         // no setup of that name: nothing was sent
    NoRecord,         // the record is not available: nothing was sent
};

struct SessionOutcome
{
    SessionStatus status = SessionStatus::Done;
    QString detail; // for people; empty when done
};

class GeneratorSession : public QObject
{
    Q_OBJECT

public:
    using Completion = std::function<void(const SessionOutcome &)>;

    // An empty requestedPort serves the one generator that discovery finds
    // and, once found, the generator with the same USB serial number.
    explicit GeneratorSession(const QString &requestedPort, PortLister listPorts = systemPorts,
                              QObject *parent = nullptr);
    ~GeneratorSession() override;

    void setReplyTimeoutMs(int timeoutMs) { replyTimeoutMs = timeoutMs; }
    // Before start(); without it the session keeps no record.
    void keepRecord(const RecordSettings &settings, RestoreMode restore = RestoreMode::None);
    void start();

    // A missing delay or width keeps the channel's known value.
    void setPulse(const QString &client, int channel, std::optional<double> delayPs,
                  std::optional<double> widthPs, Completion done);
    void save(const QString &client, Completion done);
    // Every channel to delay 0 and width 0, one frame each.
    void resetChannels(const QString &client, Completion done);
    // The setup's channels, one frame each, and their labels; nothing is
    // sent when any channel would be refused or the link is down.
    void loadSetup(const QString &client, const QString &name, Completion done);
    // The channels known now, with their labels, kept under the name.
    Result<void> storeSetup(const QString &name);
    // Calls `then` once every command queued before has been answered, with
    // Done (or LinkDown when the session ends first).
    void afterPending(Completion then);
    // Nothing queued or running: what the session knows is final for now.
    bool isIdle() const;

    bool isLinkUp() const { return linkUp; }
    // The port served or last tried; empty while discovery finds none.
    QString portName() const { return currentPort; }
    QString serialNumber() const { return currentSerial; }
    std::optional<PulseSteps> channel(int channel) const;
    // The generator's last reply, as received.
    QByteArray lastReply() const { return lastReplyBytes; }
    // While the link is down: why reopening fails, or else how it was lost.
    QString linkProblem() const { return lastOpenProblem.isEmpty() ? lossReason : lastOpenProblem; }
    // Labels, setups and the journal of the generator served.
    GeneratorRecord &record() const { return *generatorRecord; }

signals:
    void linkChanged(bool up);
    void channelChanged(int channel);

private:
    struct Frame
    {
        QByteArray bytes;
        int channel = 0; // 0 for a frame that sets no channel
        PulseSteps steps;
        QString client = {};
        qint64 ticket = 0; // in the record, once sent
    };
    // Worked out when the command's turn comes, from what is known then.
    struct Plan
    {
        std::deque<Frame> frames;
        std::optional<SessionOutcome> refusal;
    };
    struct Queued
    {
        QString client;
        std::function<Plan()> plan;
        Completion done;
    };
    struct Running
    {
        std::deque<Frame> framesLeft;
        Completion done;
        SessionOutcome outcome;
    };
    enum class FrameState { Idle, Writing, AwaitingReply };

    void enqueue(const QString &client, std::function<Plan()> plan, Completion done);
    Plan planPulse(int channel, std::optional<double> delayPs, std::optional<double> widthPs) const;
    Plan planSetup(const QString &name);
    // Frames setting channels to the steps given, or the first refusal.
    static Plan planSettings(const QList<std::pair<int, PulseSteps>> &settings);
    void restoreChannels();
    void runNext();
    void sendFrame();
    void onBytesWritten();
    void onReadyRead();
    void finishFrame(bool timedOut);
    void judgeReply(const Frame &frame, const QByteArray &bytes, bool late);
    void endLateWait();
    void finishCommand(const SessionOutcome &outcome);
    void loseLink(const QString &reason);
    void setChannel(int channel, std::optional<PulseSteps> steps);
    void forgetChannels();
    void tryToOpen();

    const QString requestedPort;
    const PortLister listPorts;
    QSerialPort *port;
    QTimer *writeTimer;
    QTimer *replyTimer;
    QTimer *lateTimer;
    QTimer *reopenTimer;
    QSocketNotifier *hangUpWatch = nullptr; // while the port is open
    int replyTimeoutMs = kReplyTimeoutMs;
    GeneratorRecord *generatorRecord;
    RestoreMode restoreMode = RestoreMode::None;

    std::deque<Queued> queue;
    std::optional<Running> running;
    bool starting = false; // inside runNext()
    bool ending = false;   // inside the destructor
    FrameState frameState = FrameState::Idle;
    QByteArray reply;
    // A frame whose reply did not come in time: nothing is sent until that
    // reply comes or another timeout passes, so a late reply is never taken
    // for the next frame's.
    std::optional<Frame> lateFrame;
    QByteArray lateReply;

    bool linkUp = false;
    QString currentPort;
    QString currentSerial;
    QString lastOpenProblem;
    QString lossReason;
    QByteArray lastReplyBytes;
    std::array<std::optional<PulseSteps>, kChannelCount> channels;
};

#endif // GENERATORSESSION_H
