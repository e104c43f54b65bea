#include "session/generatorsession.h"

#include "device/commandframes.h"
#include "device/linksettings.h"

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

SessionOutcome refused(SessionStatus status, const QString &detail)
{
    return {status, detail};
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
    reopenTimer(new QTimer(this)),
    currentPort(requestedPort)
{
    writeTimer->setSingleShot(true);
    replyTimer->setSingleShot(true);
    replyTimer->setTimerType(Qt::PreciseTimer);
    reopenTimer->setInterval(kReopenIntervalMs);
    connect(writeTimer, &QTimer::timeout, this,
            [this] { loseLink(QStringLiteral("the frame was not written in time")); });
    connect(replyTimer, &QTimer::timeout, this, &GeneratorSession::finishFrame);
    connect(reopenTimer, &QTimer::timeout, this, &GeneratorSession::tryToOpen);
    connect(port, &QSerialPort::readyRead, this, &GeneratorSession::onReadyRead);
    connect(port, &QSerialPort::bytesWritten, this, &GeneratorSession::onBytesWritten);
    // A hung-up tty shows as read errors (Qt 6.4) or a resource error (later Qt).
    connect(port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError && port->isOpen())
            loseLink(port->errorString());
    });
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

void GeneratorSession::setPulse(int channel, std::optional<int> delaySteps,
                                std::optional<int> widthSteps, Completion done)
{
    enqueue([=] { return planPulse(channel, delaySteps, widthSteps); }, std::move(done));
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
                    plan.frames.push_back({buildSetCommand(channel, 0, 0).toLatin1(), channel, {}});
                return plan;
            },
            std::move(done));
}

GeneratorSession::Plan GeneratorSession::planPulse(int channel, std::optional<int> delaySteps,
                                                   std::optional<int> widthSteps) const
{
    if (channel < 1 || channel > kChannelCount)
        return {{},
                refused(SessionStatus::OutOfRange, QStringLiteral("no channel %1").arg(channel))};
    if (delaySteps.value_or(0) < 0 || widthSteps.value_or(0) < 0)
        return {{}, refused(SessionStatus::OutOfRange, QStringLiteral("negative time"))};
    const std::optional<PulseSteps> known = this->channel(channel);
    if ((!delaySteps || !widthSteps) && !known) {
        if (!linkUp)
            return {{}, refused(SessionStatus::LinkDown, QStringLiteral("no generator"))};
        return {{},
                refused(SessionStatus::Conflict,
                        QStringLiteral("the %1 of channel %2 is unknown: set both with TIMing")
                                .arg(delaySteps ? QStringLiteral("width") : QStringLiteral("delay"))
                                .arg(channel))};
    }
    const PulseSteps steps{delaySteps ? *delaySteps : known->delaySteps,
                           widthSteps ? *widthSteps : known->widthSteps};
    if (steps.delaySteps + steps.widthSteps > kBudgetSteps)
        return {{},
                refused(SessionStatus::OutOfRange,
                        QStringLiteral("delay plus width is %1 steps, more than %2")
                                .arg(steps.delaySteps + steps.widthSteps)
                                .arg(kBudgetSteps))};
    const QString frame = buildSetCommand(channel, steps.delaySteps, steps.widthSteps);
    return {{Frame{frame.toLatin1(), channel, steps}}, std::nullopt};
}

void GeneratorSession::enqueue(std::function<Plan()> plan, Completion done)
{
    queue.push_back({std::move(plan), std::move(done)});
    runNext();
}

void GeneratorSession::runNext()
{
    if (busy || queue.empty())
        return;
    const QScopedValueRollback<bool> startingNow(starting, true);
    Queued next = std::move(queue.front());
    queue.pop_front();
    busy = true;
    runningDone = std::move(next.done);
    Plan plan = next.plan();
    if (plan.refusal)
        return finishCommand(*plan.refusal);
    if (!linkUp)
        return finishCommand(refused(SessionStatus::LinkDown, QStringLiteral("no generator")));
    framesLeft = std::move(plan.frames);
    sendFrame();
}

void GeneratorSession::sendFrame()
{
    const QByteArray &frame = framesLeft.front().bytes;
    reply.clear();
    unwrittenBytes = frame.size();
    qCDebug(lcSession) << "sent" << frame;
    writeTimer->start(kWriteTimeoutMs);
    const qint64 written = port->write(frame);
    port->flush(); // now rather than on the next turn of the event loop
    if (!linkUp)
        return; // the write found the link gone
    if (written != frame.size())
        return loseLink(QStringLiteral("the frame could not be written: ") + port->errorString());
}

void GeneratorSession::onBytesWritten(qint64 count)
{
    if (!busy || unwrittenBytes <= 0)
        return;
    unwrittenBytes -= count;
    if (unwrittenBytes <= 0) {
        writeTimer->stop();
        replyTimer->start(replyTimeoutMs);
    }
}

void GeneratorSession::onReadyRead()
{
    const QByteArray bytes = port->readAll();
    if (!busy || framesLeft.empty()) {
        qCDebug(lcSession) << "unsolicited" << bytes;
        return;
    }
    reply += bytes;
    if (reply.endsWith('\n'))
        finishFrame();
}

void GeneratorSession::finishFrame()
{
    writeTimer->stop();
    replyTimer->stop();
    const Frame frame = framesLeft.front();
    framesLeft.pop_front();
    lastReplyBytes = reply;
    qCDebug(lcSession) << "reply" << reply;
    if (frame.channel != 0) {
        channels[size_t(frame.channel - 1)] = frame.steps;
        emit channelChanged(frame.channel);
    }
    if (framesLeft.empty())
        return finishCommand({});
    sendFrame();
}

void GeneratorSession::finishCommand(const SessionOutcome &outcome)
{
    framesLeft.clear();
    busy = false;
    Completion done = std::exchange(runningDone, nullptr);
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
    writeTimer->stop();
    replyTimer->stop();
    port->close();
    port->clearError();
    forgetChannels();
    emit linkChanged(false);
    if (busy && !framesLeft.empty())
        finishCommand(refused(SessionStatus::LinkLost, reason));
    reopenTimer->start();
}

void GeneratorSession::forgetChannels()
{
    for (int channel = 1; channel <= kChannelCount; ++channel) {
        if (std::exchange(channels[size_t(channel - 1)], std::nullopt))
            emit channelChanged(channel);
    }
}

Result<QString> GeneratorSession::choosePort()
{
    if (!requestedPort.isEmpty())
        return requestedPort;
    const QList<PortDescription> found = generatorPorts(listPorts());
    for (const PortDescription &candidate : found) {
        if (!currentSerial.isEmpty() && candidate.serialNumber == currentSerial)
            return candidate.portName;
    }
    if (found.size() != 1 || !currentSerial.isEmpty())
        return Failure{currentSerial.isEmpty()
                               ? QStringLiteral("%1 generators found").arg(found.size())
                               : QStringLiteral("generator %1 not found").arg(currentSerial)};
    currentSerial = found.first().serialNumber;
    return found.first().portName;
}

void GeneratorSession::tryToOpen()
{
    const Result<QString> chosen = choosePort();
    QString problem = chosen.error();
    if (chosen) {
        const QString &name = chosen.value();
        currentPort = name;
        applyLinkSettings(*port, name);
        if (port->open(QIODevice::ReadWrite)) {
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
        problem = name + QStringLiteral(": ") + port->errorString();
        port->clearError();
    }
    if (problem != lastOpenProblem)
        qCDebug(lcSession).noquote() << "waiting for the generator:" << problem;
    lastOpenProblem = problem;
    reopenTimer->start();
}
