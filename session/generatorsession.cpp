#include "session/generatorsession.h"

#include "device/commandframes.h"
#include "device/portopening.h"

#include <QDebug>
#include <QLoggingCategory>
#include <QSerialPort>
#include <QScopedValueRollback>
#include <QSocketNotifier>
#include <QTimer>

#include <utility>

Q_LOGGING_CATEGORY(lcSession, "kestrane.session")

namespace {

constexpr int kReopenIntervalMs = 1000;
// How the generator says that it did not take a frame.
const QByteArray kRefusalReply = QByteArrayLiteral("ERR");

SessionStatus statusFor(PulseRefusal::Reason reason)
{
    return reason == PulseRefusal::OverBudget ? SessionStatus::OverBudget
                                              : SessionStatus::OutOfRange;
}

} // namespace

GeneratorSession::GeneratorSession(const QString &requestedPort, PortLister listPorts,
                                   QObject *parent) :
    QObject(parent),
    requestedPort(resolvePortName(requestedPort)),
    listPorts(std::move(listPorts)),
    port(new QSerialPort(this)),
    writeTimer(new QTimer(this)),
    replyTimer(new QTimer(this)),
    lateTimer(new QTimer(this)),
    reopenTimer(new QTimer(this)),
    currentPort(this->requestedPort)
{
    for (QTimer *timer : {writeTimer, replyTimer, lateTimer})
        timer->setSingleShot(true);
    replyTimer->setTimerType(Qt::PreciseTimer);
    reopenTimer->setInterval(kReopenIntervalMs);
    connect(writeTimer, &QTimer::timeout, this,
            [this] { loseLink(QStringLiteral("the frame was not written in time")); });
    connect(replyTimer, &QTimer::timeout, this, [this] { finishFrame(true); });
    connect(lateTimer, &QTimer::timeout, this, &GeneratorSession::endLateWait);
    connect(reopenTimer, &QTimer::timeout, this, &GeneratorSession::tryToOpen);
    connect(port, &QSerialPort::readyRead, this, &GeneratorSession::onReadyRead);
    connect(port, &QSerialPort::bytesWritten, this, &GeneratorSession::onBytesWritten);
    // A hung-up tty shows as read errors (Qt 6.4) or a resource error (later Qt).
    connect(port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError && port->isOpen())
            loseLink(port->errorString());
    });
}

GeneratorSession::~GeneratorSession()
{
    ending = true;
    port->disconnect(this);
    const SessionOutcome ended{SessionStatus::LinkDown, QStringLiteral("the session ended")};
    if (running)
        std::exchange(running, std::nullopt)->done(ended);
    while (!queue.empty()) {
        const Completion done = std::move(queue.front().done);
        queue.pop_front();
        done(ended);
    }
}

void GeneratorSession::start()
{
    tryToOpen();
}

std::optional<PulseSteps> GeneratorSession::channel(int channel) const
{
    if (channel < 1 || channel > kChannelCount)
        return std::nullopt;
    return channels[size_t(channel - 1)];
}

bool GeneratorSession::isIdle() const
{
    return !running && !lateFrame && queue.empty();
}

void GeneratorSession::setPulse(int channel, std::optional<double> delayPs,
                                std::optional<double> widthPs, Completion done)
{
    enqueue([=] { return planPulse(channel, delayPs, widthPs); }, std::move(done));
}

void GeneratorSession::save(Completion done)
{
    enqueue([] { return Plan{{Frame{kSaveCommand, 0, {}}}, std::nullopt}; }, std::move(done));
}

void GeneratorSession::resetChannels(Completion done)
{
    enqueue(
            [] {
                Plan plan;
                for (int channel = 1; channel <= kChannelCount; ++channel)
                    plan.frames.push_back({buildSetCommand(channel, 0, 0), channel, {}});
                return plan;
            },
            std::move(done));
}

void GeneratorSession::afterPending(Completion then)
{
    enqueue([] { return Plan{}; }, std::move(then));
}

GeneratorSession::Plan GeneratorSession::planPulse(int channel, std::optional<double> delayPs,
                                                   std::optional<double> widthPs) const
{
    const auto refused = [](SessionStatus status, const QString &detail) {
        return Plan{{}, SessionOutcome{status, detail}};
    };
    if (channel < 1 || channel > kChannelCount)
        return refused(SessionStatus::OutOfRange, QStringLiteral("no channel %1").arg(channel));
    for (const auto &[time, what] : {std::pair(delayPs, "delay"), std::pair(widthPs, "width")}) {
        if (!time)
            continue;
        if (const auto steps = checkedTimeSteps(*time, QLatin1String(what)); !steps)
            return refused(SessionStatus::OutOfRange, steps.error().detail);
    }
    const std::optional<PulseSteps> known = this->channel(channel);
    if ((!delayPs || !widthPs) && !known) {
        if (!linkUp)
            return refused(SessionStatus::LinkDown, QStringLiteral("no generator"));
        return refused(SessionStatus::OtherTimeUnknown,
                       QStringLiteral("the %1 of channel %2 is unknown")
                               .arg(delayPs ? QStringLiteral("width") : QStringLiteral("delay"))
                               .arg(channel));
    }
    // A known time is a whole number of steps and rounds to itself.
    const Result<PulseSteps, PulseRefusal> steps
            = checkedPulseSteps(delayPs ? *delayPs : known->delaySteps * double(kStepPs),
                                widthPs ? *widthPs : known->widthSteps * double(kStepPs));
    if (!steps)
        return refused(statusFor(steps.error().reason), steps.error().detail);
    const QByteArray frame = buildSetCommand(channel, steps->delaySteps, steps->widthSteps);
    return {{Frame{frame, channel, steps.value()}}, std::nullopt};
}

void GeneratorSession::enqueue(std::function<Plan()> plan, Completion done)
{
    if (ending)
        return done({SessionStatus::LinkDown, QStringLiteral("the session ended")});
    queue.push_back({std::move(plan), std::move(done)});
    runNext();
}

void GeneratorSession::runNext()
{
    if (running || lateFrame || queue.empty())
        return;
    const QScopedValueRollback<bool> startingNow(starting, true);
    Queued next = std::move(queue.front());
    queue.pop_front();
    running = Running{{}, std::move(next.done), {}};
    Plan plan = next.plan();
    if (plan.refusal)
        return finishCommand(*plan.refusal);
    if (plan.frames.empty())
        return finishCommand({});
    if (!linkUp)
        return finishCommand({SessionStatus::LinkDown, QStringLiteral("no generator")});
    running->framesLeft = std::move(plan.frames);
    sendFrame();
}

void GeneratorSession::sendFrame()
{
    const QByteArray &frame = running->framesLeft.front().bytes;
    reply.clear();
    frameState = FrameState::Writing;
    qCDebug(lcSession) << "sent" << frame;
    writeTimer->start(kWriteTimeoutMs);
    const qint64 written = port->write(frame);
    port->flush(); // now rather than on the next turn of the event loop
    if (!linkUp)
        return; // the write found the link gone
    if (written != frame.size())
        return loseLink(QStringLiteral("the frame could not be written: ") + port->errorString());
    onBytesWritten();
}

// Counts nothing: whatever an earlier frame left to report, the frame is
// out once the port holds nothing more to write.
void GeneratorSession::onBytesWritten()
{
    if (frameState != FrameState::Writing || port->bytesToWrite() > 0)
        return;
    frameState = FrameState::AwaitingReply;
    writeTimer->stop();
    replyTimer->start(replyTimeoutMs);
}

void GeneratorSession::onReadyRead()
{
    const QByteArray bytes = port->readAll();
    if (lateFrame) {
        lateReply += bytes;
        if (lateReply.endsWith('\n'))
            endLateWait();
        return;
    }
    if (frameState == FrameState::Idle) {
        qCDebug(lcSession) << "unsolicited" << bytes;
        return;
    }
    // A reply may overtake the port's report that the frame went out.
    reply += bytes;
    if (reply.endsWith('\n'))
        finishFrame(false);
}

void GeneratorSession::finishFrame(bool timedOut)
{
    frameState = FrameState::Idle;
    writeTimer->stop();
    replyTimer->stop();
    const Frame frame = running->framesLeft.front();
    running->framesLeft.pop_front();
    lastReplyBytes = reply;
    qCDebug(lcSession) << "reply" << reply;
    judgeReply(frame, reply, false);
    if (timedOut) {
        lateFrame = frame;
        lateReply.clear();
        lateTimer->start(replyTimeoutMs);
    }
    // A copy: finishing the command ends what holds its outcome.
    if (running->framesLeft.empty())
        return finishCommand(SessionOutcome(running->outcome));
    if (!lateFrame)
        sendFrame();
}

// Replies are logged, not judged, but for a refusal: a refused channel's
// setting is no longer known.
void GeneratorSession::judgeReply(const Frame &frame, const QByteArray &bytes, bool late)
{
    const bool refusal = bytes.startsWith(kRefusalReply);
    if (frame.channel != 0 && (refusal || !late))
        setChannel(frame.channel, refusal ? std::nullopt : std::optional<PulseSteps>(frame.steps));
    // Nothing is sent while a late reply is awaited: a command still running
    // is the one the frame belongs to.
    if (refusal && running && running->outcome.status == SessionStatus::Done)
        running->outcome
                = {SessionStatus::Refused, QStringLiteral("the generator answered %1 to %2")
                                                   .arg(QString::fromLatin1(bytes.trimmed()),
                                                        QString::fromLatin1(frame.bytes))};
}

void GeneratorSession::endLateWait()
{
    lateTimer->stop();
    const Frame frame = *std::exchange(lateFrame, std::nullopt);
    if (!lateReply.isEmpty()) {
        qCDebug(lcSession) << "late reply to" << frame.bytes << lateReply;
        lastReplyBytes = lateReply;
        judgeReply(frame, lateReply, true);
    }
    if (running && !running->framesLeft.empty())
        return sendFrame();
    runNext();
}

void GeneratorSession::finishCommand(const SessionOutcome &outcome)
{
    const Completion done = std::exchange(running, std::nullopt)->done;
    // A command that ends while it is being started is answered later, so
    // that `done` never runs inside the call that queued the command.
    const bool answerLater = starting;
    if (answerLater)
        QMetaObject::invokeMethod(
                this, [done, outcome] { done(outcome); }, Qt::QueuedConnection);
    // The generator takes the next frame while this command is answered.
    runNext();
    if (!answerLater)
        done(outcome);
}

void GeneratorSession::loseLink(const QString &reason)
{
    if (!linkUp)
        return;
    // First, so that an error the close below reports finds the link down.
    linkUp = false;
    qCDebug(lcSession).noquote() << "link lost:" << reason;
    lossReason = reason;
    hangUpWatch->setEnabled(false);
    hangUpWatch->deleteLater();
    hangUpWatch = nullptr;
    for (QTimer *timer : {writeTimer, replyTimer, lateTimer})
        timer->stop();
    frameState = FrameState::Idle;
    lateFrame.reset();
    port->close();
    port->clearError();
    forgetChannels();
    emit linkChanged(false);
    if (running)
        finishCommand({SessionStatus::LinkLost, reason});
    else
        runNext();
    reopenTimer->start();
}

void GeneratorSession::setChannel(int channel, std::optional<PulseSteps> steps)
{
    std::optional<PulseSteps> &known = channels[size_t(channel - 1)];
    const bool changed = known.has_value() != steps.has_value()
                         || (steps
                             && (known->delaySteps != steps->delaySteps
                                 || known->widthSteps != steps->widthSteps));
    known = steps;
    if (changed)
        emit channelChanged(channel);
}

void GeneratorSession::forgetChannels()
{
    for (int channel = 1; channel <= kChannelCount; ++channel)
        setChannel(channel, std::nullopt);
}

void GeneratorSession::tryToOpen()
{
    const Result<PortDescription> chosen
            = chooseGeneratorPort(requestedPort, listPorts(), currentSerial);
    QString problem = chosen.error();
    if (chosen) {
        const QString &name = chosen->portName;
        currentPort = name;
        const Result<void> opened = openGeneratorPort(*port, name);
        if (opened) {
            if (requestedPort.isEmpty())
                currentSerial = chosen->serialNumber;
            qCDebug(lcSession).noquote() << "link up:" << name;
            lastOpenProblem.clear();
            linkUp = true;
            // Qt 6.8 reports a hung-up tty by no signal at all (reads return
            // nothing, no error): the hang-up still wakes an exception watch.
            hangUpWatch = new QSocketNotifier(port->handle(), QSocketNotifier::Exception, this);
            connect(hangUpWatch, &QSocketNotifier::activated, this,
                    [this] { loseLink(QStringLiteral("the port hung up")); });
            reopenTimer->stop();
            emit linkChanged(true);
            return;
        }
        problem = name + QStringLiteral(": ") + opened.error();
    }
    if (problem != lastOpenProblem)
        qCDebug(lcSession).noquote() << "waiting for the generator:" << problem;
    lastOpenProblem = problem;
    reopenTimer->start();
}
