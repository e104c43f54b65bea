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
    generatorRecord(new GeneratorRecord({false, {}, 0}, this)),
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

void GeneratorSession::keepRecord(const RecordSettings &settings, RestoreMode restore)
{
    delete generatorRecord;
    generatorRecord = new GeneratorRecord(settings, this);
    restoreMode = restore;
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

void GeneratorSession::setPulse(const QString &client, int channel, std::optional<double> delayPs,
                                std::optional<double> widthPs, Completion done)
{
    enqueue(
            client, [=] { return planPulse(channel, delayPs, widthPs); }, std::move(done));
}

void GeneratorSession::save(const QString &client, Completion done)
{
    enqueue(
            client,
            [] {
                return Plan{{Frame{kSaveCommand, 0, {}}}, std::nullopt};
            },
            std::move(done));
}

void GeneratorSession::resetChannels(const QString &client, Completion done)
{
    enqueue(
            client,
            [] {
                Plan plan;
                for (int channel = 1; channel <= kChannelCount; ++channel)
                    plan.frames.push_back({buildSetCommand(channel, 0, 0), channel, {}});
                return plan;
            },
            std::move(done));
}

void GeneratorSession::loadSetup(const QString &client, const QString &name, Completion done)
{
    enqueue(
            client, [this, name] { return planSetup(name); }, std::move(done));
}

Result<void> GeneratorSession::storeSetup(const QString &name)
{
    const Result<std::array<QString, kChannelCount>> labels = generatorRecord->labels();
    if (!labels)
        return Failure{labels.error()};
    QList<SetupChannel> known;
    for (int channel = 1; channel <= kChannelCount; ++channel) {
        if (const std::optional<PulseSteps> steps = this->channel(channel))
            known.append({channel, *steps, labels.value()[size_t(channel - 1)]});
    }
    return generatorRecord->storeSetup(name, known);
}

void GeneratorSession::afterPending(Completion then)
{
    enqueue(
            {}, [] { return Plan{}; }, std::move(then));
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

GeneratorSession::Plan GeneratorSession::planSetup(const QString &name)
{
    const auto refused = [](SessionStatus status, const QString &detail) {
        return Plan{{}, SessionOutcome{status, detail}};
    };
    const Result<std::optional<Setup>> found = generatorRecord->setup(name);
    if (!found)
        return refused(SessionStatus::NoRecord, found.error());
    if (!found.value())
        return refused(SessionStatus::NotFound, QStringLiteral("no setup \"%1\"").arg(name));
    if (!linkUp)
        return refused(SessionStatus::LinkDown, QStringLiteral("no generator"));
    QList<std::pair<int, PulseSteps>> settings;
    for (const SetupChannel &channel : std::as_const(found.value()->channels))
        settings.append({channel.channel, channel.steps});
    Plan plan = planSettings(settings);
    if (plan.refusal)
        return plan;
    for (const SetupChannel &channel : std::as_const(found.value()->channels)) {
        if (const Result<void> labelled = generatorRecord->setLabel(channel.channel, channel.label);
            !labelled)
            return refused(SessionStatus::NoRecord, labelled.error());
    }
    return plan;
}

GeneratorSession::Plan GeneratorSession::planSettings(
        const QList<std::pair<int, PulseSteps>> &settings)
{
    Plan plan;
    for (const auto &[channel, steps] : settings) {
        // What the record holds is checked as any setting is: others may
        // have written the file.
        const Result<PulseSteps, PulseRefusal> within = checkedPulseSteps(
                steps.delaySteps * double(kStepPs), steps.widthSteps * double(kStepPs));
        if (!within)
            return {{},
                    SessionOutcome{statusFor(within.error().reason),
                                   QStringLiteral("channel %1: %2")
                                           .arg(channel)
                                           .arg(within.error().detail)}};
        plan.frames.push_back({buildSetCommand(channel, within->delaySteps, within->widthSteps),
                               channel, within.value()});
    }
    return plan;
}

void GeneratorSession::restoreChannels()
{
    if (restoreMode == RestoreMode::None)
        return;
    QList<std::pair<int, PulseSteps>> settings;
    const GeneratorSettings &known = generatorRecord->settings();
    for (int channel = 1; channel <= kChannelCount; ++channel) {
        const std::optional<PulseSteps> &steps
                = (restoreMode == RestoreMode::Last ? known.last
                                                    : known.saved)[size_t(channel - 1)];
        if (steps)
            settings.append({channel, *steps});
    }
    if (settings.isEmpty())
        return;
    Plan plan = planSettings(settings);
    // Before anything queued meanwhile: the generator starts where it was.
    queue.push_front({QStringLiteral("restore"), [plan] { return plan; },
                      [](const SessionOutcome &outcome) {
                          if (outcome.status != SessionStatus::Done)
                              qCDebug(lcSession).noquote() << "restoring:" << outcome.detail;
                      }});
}

void GeneratorSession::enqueue(const QString &client, std::function<Plan()> plan, Completion done)
{
    if (ending)
        return done({SessionStatus::LinkDown, QStringLiteral("the session ended")});
    queue.push_back({client, std::move(plan), std::move(done)});
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
    for (Frame &frame : plan.frames)
        frame.client = next.client;
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
    // A copy: a write that finds the link gone ends the command, and its frames.
    const Frame sent = running->framesLeft.front();
    const QByteArray &frame = sent.bytes;
    reply.clear();
    frameState = FrameState::Writing;
    qCDebug(lcSession) << "sent" << frame;
    writeTimer->start(kWriteTimeoutMs);
    const qint64 written = port->write(frame);
    port->flush(); // now rather than on the next turn of the event loop
    // Kept while the generator works on the frame.
    const qint64 ticket = generatorRecord->frameSent(sent.client, frame, sent.channel,
                                                     sent.channel != 0 ? std::optional(sent.steps)
                                                                       : std::nullopt);
    if (!linkUp)
        return generatorRecord->frameSettled(ticket, {}, FrameOutcome::Lost);
    running->framesLeft.front().ticket = ticket;
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
    // A reply may still come late: what became of the frame is known then.
    generatorRecord->frameSettled(
            frame.ticket, reply,
            timedOut ? FrameOutcome::NoReply
                     : (isRefusal(reply) ? FrameOutcome::Refused : FrameOutcome::Ok),
            timedOut ? GeneratorRecord::Finality::Provisional : GeneratorRecord::Finality::Final);
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
    const bool refusal = isRefusal(bytes);
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
    generatorRecord->frameSettled(frame.ticket, lateReply,
                                  lateReply.isEmpty()    ? FrameOutcome::NoReply
                                  : isRefusal(lateReply) ? FrameOutcome::Refused
                                                         : FrameOutcome::Late);
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
    if (frameState != FrameState::Idle)
        generatorRecord->frameSettled(running->framesLeft.front().ticket, reply,
                                      FrameOutcome::Lost);
    // A late reply that never came.
    if (lateFrame)
        generatorRecord->frameSettled(lateFrame->ticket, lateReply, FrameOutcome::NoReply);
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
            if (requestedPort.isEmpty() || !chosen->serialNumber.isEmpty())
                currentSerial = chosen->serialNumber;
            qCDebug(lcSession).noquote() << "link up:" << name;
            generatorRecord->setGenerator({currentSerial, name});
            lastOpenProblem.clear();
            linkUp = true;
            // Qt 6.8 reports a hung-up tty by no signal at all (reads return
            // nothing, no error): the hang-up still wakes an exception watch.
            hangUpWatch = new QSocketNotifier(port->handle(), QSocketNotifier::Exception, this);
            connect(hangUpWatch, &QSocketNotifier::activated, this,
                    [this] { loseLink(QStringLiteral("the port hung up")); });
            reopenTimer->stop();
            restoreChannels();
            emit linkChanged(true);
            runNext();
            return;
        }
        problem = name + QStringLiteral(": ") + opened.error();
    }
    if (problem != lastOpenProblem)
        qCDebug(lcSession).noquote() << "waiting for the generator:" << problem;
    lastOpenProblem = problem;
    reopenTimer->start();
}
