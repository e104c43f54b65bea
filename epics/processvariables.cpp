#include "epics/processvariables.h"

#include "pulse/pulsesteps.h"

#include <pv/bitSet.h>
#include <pv/pvData.h>
#include <pv/standardField.h>

#include <chrono>
#include <cstdint>
#include <limits>

namespace pvd = epics::pvData;

namespace {

// EPICS's alarm severities and conditions, as clients show them.
constexpr pvd::int32 kNoAlarm = 0;
constexpr pvd::int32 kMajorAlarm = 2;
constexpr pvd::int32 kInvalidAlarm = 3;
constexpr pvd::int32 kNoCondition = 0;
constexpr pvd::int32 kDeviceCondition = 1;
constexpr pvd::int32 kUndefinedCondition = 6;

// A field of the structure, const when the structure is: it throws when the
// structure has none of that name and type.
template<typename Field, typename Structure>
auto field(Structure &value, const char *name)
{
    return value.template getSubFieldT<Field>(name);
}

template<typename Field, typename Value>
void set(pvd::PVStructure &value, pvd::BitSet &changed, const char *name, const Value &to)
{
    const auto target = field<Field>(value, name);
    target->put(to);
    changed.set(target->getFieldOffset());
}

void setAlarm(pvd::PVStructure &value, pvd::BitSet &changed, pvd::int32 severity,
              pvd::int32 condition, const QString &message)
{
    set<pvd::PVInt>(value, changed, "alarm.severity", severity);
    set<pvd::PVInt>(value, changed, "alarm.status", condition);
    set<pvd::PVString>(value, changed, "alarm.message", message.toStdString());
}

void stampNow(pvd::PVStructure &value, pvd::BitSet &changed)
{
    using namespace std::chrono;
    const nanoseconds now = system_clock::now().time_since_epoch();
    const seconds whole = duration_cast<seconds>(now);
    set<pvd::PVLong>(value, changed, "timeStamp.secondsPastEpoch", pvd::int64(whole.count()));
    set<pvd::PVInt>(value, changed, "timeStamp.nanoseconds", pvd::int32((now - whole).count()));
}

// Why a channel's times are not known.
QString unknownReason(const LinkView &link)
{
    if (link.up)
        return QStringLiteral("unknown until set");
    return QStringLiteral("no link to the generator: %1")
            .arg(link.problem.isEmpty() ? link.portName : link.problem);
}

// A channel's value with its alarm: INVALID while it is unknown.
void showChannelAlarm(pvd::PVStructure &value, pvd::BitSet &changed, const GeneratorView &view,
                      int channel)
{
    if (view.channels.at(std::size_t(channel - 1)))
        setAlarm(value, changed, kNoAlarm, kNoCondition, {});
    else
        setAlarm(value, changed, kInvalidAlarm,
                 view.link.up ? kUndefinedCondition : kDeviceCondition, unknownReason(view.link));
    stampNow(value, changed);
}

// Whether a put carries the field: marked itself or as part of a structure
// around it.
bool isPut(const pvd::PVField &target, const pvd::BitSet &changed)
{
    for (const pvd::PVField *field = &target; field != nullptr; field = field->getParent()) {
        if (changed.get(field->getFieldOffset()))
            return true;
    }
    return false;
}

// The session's outcome for people; empty when done.
QString refusalOf(const SessionOutcome &outcome)
{
    switch (outcome.status) {
    case SessionStatus::Done:
        return {};
    case SessionStatus::LinkLost:
        return QStringLiteral("the link to the generator was lost: %1").arg(outcome.detail);
    case SessionStatus::LinkDown:
        return QStringLiteral("no link to the generator (%1); nothing was sent")
                .arg(outcome.detail);
    case SessionStatus::OutOfRange:
        return QStringLiteral("out of range: %1; nothing was sent").arg(outcome.detail);
    case SessionStatus::OverBudget:
        return QStringLiteral("over the budget: %1 (%2 ps); nothing was sent")
                .arg(outcome.detail)
                .arg(kMaxTimePs);
    case SessionStatus::OtherTimeUnknown:
        return QStringLiteral("%1 (the generator cannot be read back); put delay and width "
                              "together through TIMING; nothing was sent")
                .arg(outcome.detail);
    case SessionStatus::Refused:
    case SessionStatus::NotFound:
        return outcome.detail;
    case SessionStatus::NoRecord:
        return QStringLiteral("the record is not available: %1; nothing was sent")
                .arg(outcome.detail);
    }
    return outcome.detail;
}

// --- Delay and width: NTScalar double in ps.

enum class Time : std::uint8_t { Delay, Width };

// How clients show times in ps: the unit, whole ps, the range; and what
// they are.
void describeTimes(pvd::PVStructure &value, const QString &description)
{
    pvd::BitSet ignored;
    set<pvd::PVString>(value, ignored, "display.description", description.toStdString());
    set<pvd::PVString>(value, ignored, "display.units", std::string("ps"));
    set<pvd::PVString>(value, ignored, "display.format", std::string("%.0f"));
    set<pvd::PVDouble>(value, ignored, "display.limitLow", 0.0);
    set<pvd::PVDouble>(value, ignored, "display.limitHigh", double(kMaxTimePs));
}

template<Time time>
std::shared_ptr<pvd::PVStructure> makeTime(int channel)
{
    auto value = pvd::getPVDataCreate()->createPVStructure(
            pvd::getStandardField()->scalar(pvd::pvDouble, "alarm,timeStamp,display,control"));
    const QString what = time == Time::Delay ? QStringLiteral("delay") : QStringLiteral("width");
    describeTimes(*value, QStringLiteral("Channel %1 %2").arg(channel).arg(what));
    pvd::BitSet ignored;
    set<pvd::PVDouble>(*value, ignored, "control.limitLow", 0.0);
    set<pvd::PVDouble>(*value, ignored, "control.limitHigh", double(kMaxTimePs));
    set<pvd::PVDouble>(*value, ignored, "control.minStep", double(kStepPs));
    return value;
}

double timePs(const PulseSteps &steps, Time time)
{
    return double(kStepPs) * (time == Time::Delay ? steps.delaySteps : steps.widthSteps);
}

template<Time time>
void showTime(pvd::PVStructure &value, pvd::BitSet &changed, const GeneratorView &view, int channel)
{
    const std::optional<PulseSteps> &steps = view.channels.at(std::size_t(channel - 1));
    set<pvd::PVDouble>(value, changed, "value",
                       steps ? timePs(*steps, time) : std::numeric_limits<double>::quiet_NaN());
    showChannelAlarm(value, changed, view, channel);
}

template<Time time>
QString putTime(SessionCalls &calls, int channel, const pvd::PVStructure &value,
                const pvd::BitSet &changed)
{
    const auto timePs = field<pvd::PVDouble>(value, "value");
    if (!isPut(*timePs, changed))
        return QStringLiteral("nothing to set: put a value");
    const double put = timePs->get();
    return refusalOf(time == Time::Delay ? calls.setPulse(channel, put, std::nullopt)
                                         : calls.setPulse(channel, std::nullopt, put));
}

// --- Timing: NTScalarArray double, delay and width, set in one frame.

std::shared_ptr<pvd::PVStructure> makeTiming(int channel)
{
    auto value = pvd::getPVDataCreate()->createPVStructure(
            pvd::getStandardField()->scalarArray(pvd::pvDouble, "alarm,timeStamp,display"));
    describeTimes(*value, QStringLiteral("Channel %1 delay and width").arg(channel));
    return value;
}

void showTiming(pvd::PVStructure &value, pvd::BitSet &changed, const GeneratorView &view,
                int channel)
{
    // Empty while unknown: no made-up numbers.
    pvd::PVDoubleArray::svector times;
    if (const std::optional<PulseSteps> &steps = view.channels.at(std::size_t(channel - 1)))
        times = {timePs(*steps, Time::Delay), timePs(*steps, Time::Width)};
    const auto target = field<pvd::PVDoubleArray>(value, "value");
    target->replace(pvd::freeze(times));
    changed.set(target->getFieldOffset());
    showChannelAlarm(value, changed, view, channel);
}

QString putTiming(SessionCalls &calls, int channel, const pvd::PVStructure &value,
                  const pvd::BitSet &changed)
{
    const auto times = field<pvd::PVDoubleArray>(value, "value");
    const pvd::PVDoubleArray::const_svector put = times->view();
    if (!isPut(*times, changed) || put.size() != 2)
        return QStringLiteral("TIMING takes two numbers, delay and width in ps: '[delay,width]'");
    return refusalOf(calls.setPulse(channel, put[0], put[1]));
}

// --- SAVE and RESET: NTScalar int, a put of 1 carries it out; it reads 0.

std::shared_ptr<pvd::PVStructure> makeCommand(int)
{
    return pvd::getPVDataCreate()->createPVStructure(
            pvd::getStandardField()->scalar(pvd::pvInt, "alarm,timeStamp"));
}

void showCommand(pvd::PVStructure &value, pvd::BitSet &changed, const GeneratorView &, int)
{
    set<pvd::PVInt>(value, changed, "value", 0);
    stampNow(value, changed);
}

template<SessionOutcome (SessionCalls::*command)()>
QString putCommand(SessionCalls &calls, int, const pvd::PVStructure &value,
                   const pvd::BitSet &changed)
{
    const auto put = field<pvd::PVInt>(value, "value");
    if (!isPut(*put, changed) || put->get() != 1)
        return QStringLiteral("put 1 to carry it out");
    return refusalOf((calls.*command)());
}

// --- Label: NTScalar string, kept in the host's record.

std::shared_ptr<pvd::PVStructure> makeLabel(int channel)
{
    auto value = pvd::getPVDataCreate()->createPVStructure(
            pvd::getStandardField()->scalar(pvd::pvString, "alarm,timeStamp,display"));
    pvd::BitSet ignored;
    set<pvd::PVString>(*value, ignored, "display.description",
                       QStringLiteral("Channel %1 label").arg(channel).toStdString());
    return value;
}

void showLabel(pvd::PVStructure &value, pvd::BitSet &changed, const GeneratorView &view,
               int channel)
{
    set<pvd::PVString>(value, changed, "value",
                       view.labels.at(std::size_t(channel - 1)).toStdString());
    stampNow(value, changed);
}

QString putLabel(SessionCalls &calls, int channel, const pvd::PVStructure &value,
                 const pvd::BitSet &changed)
{
    const auto label = field<pvd::PVString>(value, "value");
    if (!isPut(*label, changed))
        return QStringLiteral("nothing to set: put a label");
    const Result<void> kept = calls.setLabel(channel, QString::fromStdString(label->get()));
    return kept ? QString() : kept.error();
}

// --- LINK: NTEnum down or up, read only; down is a major alarm with the reason.

std::shared_ptr<pvd::PVStructure> makeLink(int)
{
    auto value = pvd::getPVDataCreate()->createPVStructure(
            pvd::getStandardField()->enumerated("alarm,timeStamp"));
    pvd::PVStringArray::svector choices{"down", "up"};
    field<pvd::PVStringArray>(*value, "value.choices")->replace(pvd::freeze(choices));
    return value;
}

void showLink(pvd::PVStructure &value, pvd::BitSet &changed, const GeneratorView &view, int)
{
    const LinkView &link = view.link;
    set<pvd::PVInt>(value, changed, "value.index", link.up ? 1 : 0);
    if (link.up)
        setAlarm(value, changed, kNoAlarm, kNoCondition, {});
    else
        setAlarm(value, changed, kMajorAlarm, kDeviceCondition,
                 link.problem.isEmpty() ? link.portName : link.problem);
    stampNow(value, changed);
}

} // namespace

GeneratorView viewOf(GeneratorSession &session)
{
    GeneratorView view{linkViewOf(session), {}, {}};
    for (int channel = 1; channel <= kChannelCount; ++channel)
        view.channels.at(std::size_t(channel - 1)) = session.channel(channel);
    if (const Result<ChannelLabelTexts> labels = session.record().labels())
        view.labels = labels.value();
    return view;
}

const std::vector<ProcessVariable> &processVariables()
{
    static const std::vector<ProcessVariable> table{
            {"DELAY", true, makeTime<Time::Delay>, showTime<Time::Delay>, putTime<Time::Delay>},
            {"WIDTH", true, makeTime<Time::Width>, showTime<Time::Width>, putTime<Time::Width>},
            {"TIMING", true, makeTiming, showTiming, putTiming},
            {"LABEL", true, makeLabel, showLabel, putLabel},
            {"SAVE", false, makeCommand, showCommand, putCommand<&SessionCalls::save>},
            {"RESET", false, makeCommand, showCommand, putCommand<&SessionCalls::resetChannels>},
            {"LINK", false, makeLink, showLink, nullptr},
    };
    return table;
}

QString processVariableName(const QString &prefix, const ProcessVariable &variable, int channel)
{
    const QString name = QLatin1String(variable.name);
    if (!variable.perChannel)
        return prefix + name;
    return QStringLiteral("%1CH%2:%3").arg(prefix).arg(channel, 2, 10, QLatin1Char('0')).arg(name);
}
