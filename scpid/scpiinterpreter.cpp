#include "scpid/scpiinterpreter.h"

#include "pulse/channelrecords.h"
#include "pulse/pulsesteps.h"
#include "scpi/scpinumber.h"
#include "scpi/scpistring.h"
#include "session/generatorsession.h"

#include <QPointer>

#include <cmath>

namespace {

constexpr double kSecondsPerPs = 1e-12;
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
    }
    return {};
}

QByteArray seconds(int steps)
{
    return QByteArray::number(steps * kStepPs * kSecondsPerPs, 'E', 3);
}

// A time in ps; the session rounds it and checks its range.
std::variant<double, ScpiError> timePs(const QByteArray &text)
{
    const auto parsed = parseScpiNumber(text, "S", {0, kMaxTimePs * kSecondsPerPs});
    if (const auto *error = std::get_if<ScpiError>(&parsed))
        return *error;
    return std::get<double>(parsed) / kSecondsPerPs;
}

std::variant<int, ScpiError> registerValue(const QByteArray &text)
{
    const auto parsed = parseScpiNumber(text, {}, {0, 255});
    if (const auto *error = std::get_if<ScpiError>(&parsed))
        return *error;
    const double value = std::round(std::get<double>(parsed));
    if (!(value >= 0 && value <= 255))
        return ScpiError{ScpiErrorCode::DataOutOfRange, QString::fromLatin1(text)};
    return int(value);
}

} // namespace

ScpiInterpreter::ScpiInterpreter(GeneratorSession &session, QObject *parent) :
    QObject(parent),
    session(session)
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
        if (!run(line.commands[nextCommand++]))
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
    runCommands();
}

bool ScpiInterpreter::run(const ScpiCommand &command)
{
    switch (command.header) {
    case ScpiHeader::Delay:
    case ScpiHeader::Width:
    case ScpiHeader::Timing:
        if (command.suffix < 1 || command.suffix > kChannelCount) {
            status.pushError({ScpiErrorCode::HeaderSuffixOutOfRange,
                              QStringLiteral("PULSe%1").arg(command.suffix)});
            return true;
        }
        if (command.query) {
            responses.append(timeQuery(command));
            return true;
        }
        return runSetting(command);
    case ScpiHeader::Reset:
        sendToGenerator([this](auto done) { session.resetChannels(done); });
        return false;
    case ScpiHeader::Save:
        if (command.parameters.first().trimmed() != "0") {
            status.pushError(
                    {ScpiErrorCode::DataOutOfRange, QStringLiteral("only location 0 exists")});
            return true;
        }
        sendToGenerator([this](auto done) { session.save(done); });
        return false;
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
    default:
        runStatusCommand(command);
        return true;
    }
}

bool ScpiInterpreter::runSetting(const ScpiCommand &command)
{
    QList<double> times;
    for (const QByteArray &parameter : command.parameters) {
        const auto parsed = timePs(parameter);
        if (const auto *error = std::get_if<ScpiError>(&parsed)) {
            status.pushError(*error);
            return true;
        }
        times.append(std::get<double>(parsed));
    }
    std::optional<double> delay;
    std::optional<double> width;
    if (command.header == ScpiHeader::Width)
        width = times.first();
    else
        delay = times.first();
    if (command.header == ScpiHeader::Timing)
        width = times.last();
    sendToGenerator([&](auto done) { session.setPulse(command.suffix, delay, width, done); });
    return false;
}

QByteArray ScpiInterpreter::timeQuery(const ScpiCommand &command) const
{
    const std::optional<PulseSteps> known = session.channel(command.suffix);
    QByteArray delay = known ? seconds(known->delaySteps) : kUnknown;
    QByteArray width = known ? seconds(known->widthSteps) : kUnknown;
    switch (command.header) {
    case ScpiHeader::Delay:
        return delay;
    case ScpiHeader::Width:
        return width;
    default:
        return delay + ',' + width;
    }
}

void ScpiInterpreter::runStatusCommand(const ScpiCommand &command)
{
    std::variant<int, ScpiError> value = 0;
    if (!command.parameters.isEmpty())
        value = registerValue(command.parameters.first());
    if (const auto *error = std::get_if<ScpiError>(&value))
        return status.pushError(*error);
    const int number = std::get<int>(value);

    switch (command.header) {
    case ScpiHeader::ClearStatus:
        return status.clear();
    case ScpiHeader::EventEnable:
        if (command.query)
            return responses.append(QByteArray::number(status.eventEnable()));
        return status.setEventEnable(number);
    case ScpiHeader::ServiceEnable:
        if (command.query)
            return responses.append(QByteArray::number(status.serviceEnable()));
        return status.setServiceEnable(number);
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
    case ScpiHeader::ErrorCount:
        return responses.append(QByteArray::number(status.errorCount()));
    default: // *WAI: commands already run one after the other
        return;
    }
}

QByteArray ScpiInterpreter::identity() const
{
    QString unit = session.serialNumber();
    if (unit.isEmpty())
        unit = session.portName();
    if (unit.isEmpty())
        unit = QStringLiteral("0");
    unit.replace(u',', u'_').replace(u';', u'_');
    return "Kestrane,kestrane-scpid," + unit.toUtf8() + ',' + KESTRANE_VERSION;
}
