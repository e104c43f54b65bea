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
// - setPulse(), save() and resetChannels() queue one command and return at
//   once. Commands from every caller run one exchange at a time, in the order
//   queued; `done` is called on the session's thread, never from inside the
//   call that queued it, with a SessionOutcome that tells the command's fate.
// - channel(), isLinkUp(), portName(), serialNumber() and lastReply() read the
//   session's current knowledge. The generator cannot be read back: a channel
//   is known only once this session has set it since the link last came up.
// - linkChanged() and channelChanged() say when that knowledge changes, for
//   front ends that push change events.
// - Every member must be used on the session's thread. A front end serving
//   requests on other threads (a Tango device server's ORB threads) crosses
//   over with QMetaObject::invokeMethod(session, functor,
//   Qt::BlockingQueuedConnection), queuing the command with a `done` that
//   fulfils a std::promise (held by a std::shared_ptr: `done` is copied), and
//   then waits on the future on its own thread.
//   The Qt thread never waits for anyone.

#include "device/exchange.h"
#include "device/portdiscovery.h"
#include "pulse/channelrecords.h"
#include "pulse/pulsesteps.h"

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
    Done,       // every frame went out; the replies were collected, not judged
    LinkLost,   // this command found the link gone (SCPI -240)
    LinkDown,   // the link was already down: nothing sent (SCPI -241)
    OutOfRange, // a channel outside 1 to 16, or delay plus width over budget (SCPI -222)
    Conflict,   // only delay or width given while the other is unknown (SCPI -221)
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

    void setReplyTimeoutMs(int timeoutMs) { replyTimeoutMs = timeoutMs; }
    void start();

    // A missing delay or width keeps the channel's known value.
    void setPulse(int channel, std::optional<int> delaySteps, std::optional<int> widthSteps,
                  Completion done);
    void save(Completion done);
    // Every channel to delay 0 and width 0, one frame each.
    void resetChannels(Completion done);

    bool isLinkUp() const { return linkUp; }
    // The port served or last tried; empty while discovery finds none.
    QString portName() const { return currentPort; }
    QString serialNumber() const { return currentSerial; }
    std::optional<PulseSteps> channel(int channel) const;
    // The reply to the last exchange, as received.
    QByteArray lastReply() const { return lastReplyBytes; }
    // While the link is down: why reopening fails, or else how it was lost.
    QString linkProblem() const { return lastOpenProblem.isEmpty() ? lossReason : lastOpenProblem; }

signals:
    void linkChanged(bool up);
    void channelChanged(int channel);

private:
    struct Frame
    {
        QByteArray bytes;
        int channel = 0; // 0 for a frame that sets no channel
        PulseSteps steps;
    };
    // Worked out when the command's turn comes, from what is known then.
    struct Plan
    {
        std::deque<Frame> frames;
        std::optional<SessionOutcome> refusal;
    };
    struct Queued
    {
        std::function<Plan()> plan;
        Completion done;
    };

    void enqueue(std::function<Plan()> plan, Completion done);
    Plan planPulse(int channel, std::optional<int> delaySteps, std::optional<int> widthSteps) const;
    void runNext();
    void sendFrame();
    void onReadyRead();
    void onBytesWritten(qint64 count);
    void finishFrame();
    void finishCommand(const SessionOutcome &outcome);
    void loseLink(const QString &reason);
    void forgetChannels();
    void tryToOpen();
    Result<QString> choosePort();

    const QString requestedPort;
    const PortLister listPorts;
    QSerialPort *port;
    QTimer *writeTimer;
    QTimer *replyTimer;
    QTimer *reopenTimer;
    QSocketNotifier *hangUpWatch = nullptr; // while the port is open
    int replyTimeoutMs = kReplyTimeoutMs;

    std::deque<Queued> queue;
    bool busy = false;
    bool starting = false; // inside runNext()
    std::deque<Frame> framesLeft;
    Completion runningDone;
    qint64 unwrittenBytes = 0;
    QByteArray reply;

    bool linkUp = false;
    QString currentPort;
    QString currentSerial;
    QString lastOpenProblem;
    QString lossReason;
    QByteArray lastReplyBytes;
    std::array<std::optional<PulseSteps>, kChannelCount> channels;
};

#endif // GENERATORSESSION_H
