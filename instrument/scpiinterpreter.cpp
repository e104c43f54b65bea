#include "instrument/scpiinterpreter.h"

#include "instrument/generatorlock.h"
#include "instrument/unitserial.h"
#include "pulse/channelrecords.h"
#include "pulse/pulsesteps.h"
#include "record/recordtexts.h"
#include "scpi/scpinumber.h"
#include "scpi/scpistring.h"
#include "session/generatorsession.h"

#include <QPointer>

#include <cmath>

namespace {

constexpr double kSecondsPerPs = 1e-12;
constexpr NumberLimits kTimeLimits{0, kMaxTimePs *kSecondsPerPs};
// SCPI's not-a-number: what a channel's time is until it has been set.
const QByteArray kUnknown = QByteArrayLiteral("9.91E37");
const QByteArray kScpiVersion = QByteArrayLiteral("1999.0");

ScpiError errorFor(const SessionOutcome &outcome)
{
    switch (outcome.status) {
    case SessionStatus::Done:
        break;
    case SessionStatus::LinkLost:
        return {ScpiErrorCode::HardwareError, outcome.detail};
    case SessionStatus::LinkDown:
        return {ScpiErrorCode::HardwareMissing, outcome.detail};
    case SessionStatus::OutOfRange:
    case SessionStatus::OverBudget:
        return {ScpiErrorCode::DataOutOfRange, outcome.detail};
    case SessionStatus::OtherTimeUnknown:
        return {ScpiErrorCode::SettingsConflict,
                outcome.detail + QStringLiteral(": set both with TIMing")};
    case SessionStatus::Refused:
        return {ScpiErrorCode::DeviceSpecificError, outcome.detail};
    case SessionStatus::NotFound:
        return {ScpiErrorCode::FileNameNotFound, outcome.detail};
    case SessionStatus::NoRecord:
        return {ScpiErrorCode::MassStorageError, outcome.detail};
    }
    return {};
}

ScpiError recordError(const QString &problem)
{
    return {ScpiErrorCode::MassStorageError, problem};
}

QByteArray seconds(double value)
{
    return QByteArray::number(value, 'E', 3);
}

// The queries that read what the session knows.
bool readsSession(const ScpiCommand &command)
{
    switch (command.header) {
    case ScpiHeader::Delay:
    case ScpiHeader::Width:
    case ScpiHeader::Timing:
    case ScpiHeader::Identify:
    case ScpiHeader::SelfTest:
    case ScpiHeader::Link:
    case ScpiHeader::Reply:
    case ScpiHeader::Label:
        return command.query;
    case ScpiHeader::StoreSetup:
    case ScpiHeader::SetupCatalog:
        return true;
    default:
        return false;
    }
}

// A string parameter that must be UTF-8 text.
Result<QString, ScpiError> textParameter(const QByteArray &parameter)
{
    const Result<QByteArray, ScpiError> bytes = unquotedScpiString(parameter);
    if (!bytes)
        return Failure{bytes.error()};
    const Result<QString> text = decodedUtf8(bytes.value());
    if (!text)
        return Failure{ScpiError{ScpiErrorCode::IllegalParameterValue, text.error()}};
    return text.value();
}

// A whole number from 0 to 255, as the status registers take it.
Result<int, ScpiError> registerValue(const QByteArray &text)
{
    const Result<double, ScpiError> parsed = parseScpiNumber(text, {}, {0, 255});
    if (!parsed)
        return Failure{parsed.error()};
    const double value = std::round(parsed.value());
    if (!(value >= 0 && value <= 255))
        return Failure{ScpiError{ScpiErrorCode::DataOutOfRange, QString::fromLatin1(text)}};
    return int(value);
}

} // namespace

ScpiInterpreter::ScpiInterpreter(GeneratorSession &session, const LockHolder &client,
                                 QObject *parent) :
    QObject(parent),
    session(session),
    client(client)
{}

void ScpiInterpreter::execute(const QByteArray &text)
{
    busy = true;
    line = parseScpiLine(text);
    nextCommand = 0;
    responses.clear();
    runCommands();
}

void ScpiInterpreter::runCommands()
{
    while (nextCommand < line.commands.size()) {
        const ScpiCommand &command = line.commands[nextCommand];
        if (!caughtUp && readsSession(command) && !session.isIdle()) {
            caughtUp = true;
            sendToGenerator([this](auto done) { session.afterPending(done); });
            return;
        }
        caughtUp = false;
        ++nextCommand;
        if (!run(command))
            return;
    }
    if (line.error)
        status.pushError(*line.error);
    busy = false;
    emit lineDone(responses.join(';'));
}

template<typename Queue>
void ScpiInterpreter::sendToGenerator(Queue queue)
{
    queue([self = QPointer<ScpiInterpreter>(this)](const SessionOutcome &outcome) {
        if (self)
            self->resumeAfter(outcome);
    });
}

void ScpiInterpreter::resumeAfter(const SessionOutcome &outcome)
{
    if (outcome.status != SessionStatus::Done)
        status.pushError(errorFor(outcome));
    // Once each time it stops working, to every client whose frames it missed.
    const GeneratorRecord &record = session.record();
    if (!record.problem().isEmpty() && record.problemCount() != recordProblemsTold) {
        recordProblemsTold = record.problemCount();
        status.pushError(recordError(record.problem()));
    }
    runCommands();
}

bool ScpiInterpreter::run(const ScpiCommand &command)
{
    if (sendsToGenerator(command) && client.lock().isHeldByOtherThan(client)) {
        status.pushError(
                {ScpiErrorCode::CommandProtected,
                 QStringLiteral("the generator is locked by ") + client.lock().ownerName()});
        return true;
    }
    switch (command.header) {
    case ScpiHeader::Delay:
    case ScpiHeader::Width:
    case ScpiHeader::Timing:
    case ScpiHeader::Label:
        if (command.suffix < 1 || command.suffix > kChannelCount) {
            status.pushError({ScpiErrorCode::HeaderSuffixOutOfRange,
                              QStringLiteral("PULSe%1").arg(command.suffix)});
            return true;
        }
        if (command.header == ScpiHeader::Label) {
            runLabel(command);
            return true;
        }
        if (command.query) {
            if (const QByteArray answer = timeQuery(command); !answer.isEmpty())
                responses.append(answer);
            return true;
        }
        return runSetting(command);
    case ScpiHeader::Reset:
        sendToGenerator([this](auto done) { session.resetChannels(client.name(), done); });
        return false;
    case ScpiHeader::StoreSetup:
    case ScpiHeader::LoadSetup:
    case ScpiHeader::SetupCatalog:
    case ScpiHeader::DeleteSetup:
        return runSetupCommand(command);
    case ScpiHeader::Save: {
        const Result<double, ScpiError> location
                = parseScpiNumber(command.parameters.first(), {}, {0, 0});
        if (!location) {
            status.pushError(location.error());
            return true;
        }
        if (location.value() != 0) {
            status.pushError(
                    {ScpiErrorCode::DataOutOfRange, QStringLiteral("only location 0 exists")});
            return true;
        }
        sendToGenerator([this](auto done) { session.save(client.name(), done); });
        return false;
    }
    case ScpiHeader::Identify:
        responses.append(identity());
        return true;
    case ScpiHeader::SelfTest:
        responses.append(session.isLinkUp() ? "0" : "1");
        return true;
    case ScpiHeader::Version:
        responses.append(kScpiVersion);
        return true;
    case ScpiHeader::Link:
        responses.append(quotedScpiString(session.portName().toUtf8()) + ','
                         + (session.isLinkUp() ? '1' : '0'));
        return true;
    case ScpiHeader::Reply:
        responses.append(quotedScpiString(session.lastReply()));
        return true;
    case ScpiHeader::LockRequest:
    case ScpiHeader::LockRelease:
    case ScpiHeader::LockOwner:
        runLockCommand(command);
        return true;
    default:
        runStatusCommand(command);
        return true;
    }
}

bool ScpiInterpreter::runSetting(const ScpiCommand &command)
{
    QList<double> times;
    for (const QByteArray &parameter : command.parameters) {
        const Result<double, ScpiError> parsed = parseScpiNumber(parameter, "S", kTimeLimits);
        if (!parsed) {
            status.pushError(parsed.error());
            return true;
        }
        times.append(parsed.value() / kSecondsPerPs);
    }
    std::optional<double> delay;
    std::optional<double> width;
    if (command.header == ScpiHeader::Width)
        width = times.first();
    else
        delay = times.first();
    if (command.header == ScpiHeader::Timing)
        width = times.last();
    sendToGenerator([&](auto done) {
        session.setPulse(client.name(), command.suffix, delay, width, done);
    });
    return false;
}

void ScpiInterpreter::runLabel(const ScpiCommand &command)
{
    GeneratorRecord &record = session.record();
    if (command.query) {
        const Result<QString> label = record.label(command.suffix);
        if (!label)
            return status.pushError(recordError(label.error()));
        return responses.append(quotedScpiText(label.value()));
    }
    const Result<QString, ScpiError> text = textParameter(command.parameters.first());
    if (!text)
        return status.pushError(text.error());
    if (const Result<QString> label = checkedLabel(text.value()); !label)
        return status.pushError({ScpiErrorCode::IllegalParameterValue, label.error()});
    if (const Result<void> kept = record.setLabel(command.suffix, text.value()); !kept)
        status.pushError(recordError(kept.error()));
}

bool ScpiInterpreter::runSetupCommand(const ScpiCommand &command)
{
    GeneratorRecord &record = session.record();
    if (command.header == ScpiHeader::SetupCatalog) {
        const Result<QStringList> names = record.setupNames();
        if (!names) {
            status.pushError(recordError(names.error()));
            return true;
        }
        QByteArrayList quoted;
        for (const QString &name : names.value())
            quoted.append(quotedScpiText(name));
        responses.append(quoted.isEmpty() ? QByteArray("\"\"") : quoted.join(','));
        return true;
    }
    const Result<QString, ScpiError> text = textParameter(command.parameters.first());
    if (!text) {
        status.pushError(text.error());
        return true;
    }
    const Result<QString> name = checkedSetupName(text.value());
    if (!name) {
        status.pushError({ScpiErrorCode::FileNameError, name.error()});
        return true;
    }
    switch (command.header) {
    case ScpiHeader::StoreSetup:
        if (const Result<void> stored = session.storeSetup(name.value()); !stored)
            status.pushError(recordError(stored.error()));
        return true;
    case ScpiHeader::LoadSetup:
        sendToGenerator([&](auto done) { session.loadSetup(client.name(), name.value(), done); });
        return false;
    default: {
        const Result<bool> deleted = record.deleteSetup(name.value());
        if (!deleted)
            status.pushError(recordError(deleted.error()));
        else if (!deleted.value())
            status.pushError({ScpiErrorCode::FileNameNotFound,
                              QStringLiteral("no setup \"%1\"").arg(name.value())});
        return true;
    }
    }
}

// Empty when the query failed: it then has no answer field.
QByteArray ScpiInterpreter::timeQuery(const ScpiCommand &command)
{
    if (!command.parameters.isEmpty()) {
        const QByteArray limit = command.parameters.first().toUpper();
        if (limit == "MIN" || limit == "MINIMUM")
            return seconds(kTimeLimits.minimum);
        if (limit == "MAX" || limit == "MAXIMUM")
            return seconds(kTimeLimits.maximum);
        status.pushError({ScpiErrorCode::IllegalParameterValue,
                          QStringLiteral("MIN or MAX: not ") + QString::fromLatin1(limit)});
        return {};
    }
    const std::optional<PulseSteps> known = session.channel(command.suffix);
    const auto time = [&known](int PulseSteps::*steps) {
        return known ? seconds((*known).*steps * kStepPs * kSecondsPerPs) : kUnknown;
    };
    switch (command.header) {
    case ScpiHeader::Delay:
        return time(&PulseSteps::delaySteps);
    case ScpiHeader::Width:
        return time(&PulseSteps::widthSteps);
    default:
        return time(&PulseSteps::delaySteps) + ',' + time(&PulseSteps::widthSteps);
    }
}

void ScpiInterpreter::runLockCommand(const ScpiCommand &command)
{
    GeneratorLock &lock = client.lock();
    switch (command.header) {
    case ScpiHeader::LockRequest:
        return responses.append(lock.take(client) ? "1" : "0");
    case ScpiHeader::LockRelease: {
        // Nothing to give back is no error: the aim is not to hold it.
        [[maybe_unused]] const bool released = lock.release(client);
        return;
    }
    default: {
        const QString owner = lock.ownerName();
        return responses.append(quotedScpiString(owner.isEmpty() ? "NONE" : owner.toUtf8()));
    }
    }
}

void ScpiInterpreter::runStatusCommand(const ScpiCommand &command)
{
    Result<int, ScpiError> value = 0;
    if (!command.parameters.isEmpty())
        value = registerValue(command.parameters.first());
    if (!value)
        return status.pushError(value.error());

    switch (command.header) {
    case ScpiHeader::ClearStatus:
        return status.clear();
    case ScpiHeader::EventEnable:
        if (command.query)
            return responses.append(QByteArray::number(status.eventEnable()));
        return status.setEventEnable(value.value());
    case ScpiHeader::ServiceEnable:
        if (command.query)
            return responses.append(QByteArray::number(status.serviceEnable()));
        return status.setServiceEnable(value.value());
    case ScpiHeader::EventStatus:
        return responses.append(QByteArray::number(status.takeEventStatus()));
    case ScpiHeader::StatusByte:
        return responses.append(QByteArray::number(status.statusByte()));
    case ScpiHeader::OperationComplete:
        // Commands run in order, so everything before is complete by now.
        if (command.query)
            return responses.append("1");
        return status.setOperationComplete();
    case ScpiHeader::ErrorNext:
        return responses.append(status.takeNextError());
    case ScpiHeader::ErrorAll:
        return responses.append(status.takeAllErrors());
    case ScpiHeader::ErrorCount:
        return responses.append(QByteArray::number(status.errorCount()));
    default: // *WAI: commands already run one after the other
        return;
    }
}

QByteArray ScpiInterpreter::identity() const
{
    return "Kestrane,kestrane-scpid," + unitSerialNumber(session).toUtf8() + ',' + KESTRANE_VERSION;
}
