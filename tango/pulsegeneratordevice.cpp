#include "tango/pulsegeneratordevice.h"

#include "tango/channeltimeattribute.h"
#include "tango/eventqueue.h"
#include "tango/pulsegeneratorclass.h"
#include "tango/recordattributes.h"

#include "record/recordtexts.h"
#include "session/recordoptions.h"
#include "session/requestedport.h"

#include <cmath>
#include <sys/time.h>

namespace {

[[noreturn]] void fail(const char *reason, const QString &description, const char *origin)
{
    Tango::Except::throw_exception(reason, description.toStdString(),
                                   std::string("KestranePulseGenerator::") + origin);
}

QString statusText(const LinkView &link, const QString &recordProblem)
{
    QString text = link.up ? QStringLiteral("Connected to the generator on %1.").arg(link.portName)
                           : QStringLiteral("No link to the generator (%1). Trying again every "
                                            "second.")
                                     .arg(link.problem.isEmpty() ? link.portName : link.problem);
    if (!recordProblem.isEmpty())
        text += QStringLiteral(" The record does not work (%1): the generator is driven without "
                               "it, and no frame, label or setup is kept until it works again.")
                        .arg(recordProblem);
    return text;
}

// A record's answer as the session's outcome.
template<typename T>
SessionOutcome outcomeOf(const Result<T> &result)
{
    return result ? SessionOutcome{} : SessionOutcome{SessionStatus::NoRecord, result.error()};
}

// Tango's strings are bytes, Latin-1 to its clients (python3-tango encodes
// and decodes them so); a character beyond it is sent as "?".
QString textOf(Tango::ConstDevString text)
{
    return QString::fromLatin1(text);
}

Tango::DevString tangoString(const QString &text)
{
    return Tango::string_dup(text.toLatin1().constData());
}

// A read's value, sent once the read has returned and released by Tango
// then: it deletes a scalar's pointer and a spectrum's array of them, and
// frees the strings.
void setString(Tango::Attribute &attribute, const QString &text)
{
    attribute.set_value(new Tango::DevString(tangoString(text)), 1, 0, true);
}

void setStrings(Tango::Attribute &attribute, const QStringList &texts)
{
    auto *strings = new Tango::DevString[texts.size()];
    for (qsizetype index = 0; index < texts.size(); ++index)
        strings[index] = tangoString(texts[index]);
    attribute.set_value(strings, long(texts.size()), 0, true);
}

// Firing an event consumes the value (cppTango 10): set it for each.
void fireChangeAndArchive(Tango::Attribute &attribute, const std::function<void()> &setValue)
{
    timeval now{};
    gettimeofday(&now, nullptr);
    Tango::TimeVal when{};
    when.tv_sec = CORBA::Long(now.tv_sec);
    when.tv_usec = CORBA::Long(now.tv_usec);
    for (const auto fire :
         {&Tango::Attribute::fire_change_event, &Tango::Attribute::fire_archive_event}) {
        setValue();
        attribute.set_date(when);
        (attribute.*fire)(nullptr);
    }
}

std::string &deviceDescription()
{
    static std::string description
            = "A 16-channel picosecond pulse generator on a USB serial port: each channel's "
              "delay and pulse width in ps, set in steps of "
              + std::to_string(kStepPs) + " ps and saved in the generator.";
    return description;
}

} // namespace

KestranePulseGenerator::KestranePulseGenerator(Tango::DeviceClass *deviceClass, std::string &name) :
    TANGO_BASE_CLASS(deviceClass, name, deviceDescription()),
    events(std::make_shared<EventQueue>())
{
    init_device();
}

KestranePulseGenerator::~KestranePulseGenerator()
{
    // First: a push in progress still needs the device.
    events->stop();
    delete_device();
}

void KestranePulseGenerator::init_device()
{
    set_state(Tango::INIT);
    set_status("Starting.");
    for (const char *attribute : {"State", "Status"}) {
        set_change_event(attribute, true, false);
        set_archive_event(attribute, true, false);
    }
    readProperties();
    // A port that can never serve, or a choice between generators, is the
    // operator's to fix: the device does not start.
    const Result<void> usable = portProperty.isEmpty() ? checkSingleGenerator(systemPorts())
                                                       : checkRequestedPort(portProperty);
    if (!usable)
        fail("BadProperty", QStringLiteral("Port: %1").arg(usable.error()), "init_device");
    const RecordSettings record
            = static_cast<KestranePulseGeneratorClass *>(get_device_class())->record().settings;
    auto opened = std::make_shared<SessionCalls>(
            QStringLiteral("tango"), portProperty, replyTimeoutMs,
            [device = this, queue = events, record, restore = restore](GeneratorSession &started) {
                started.keepRecord(record, restore);
                watch(started, device, queue);
            });
    const std::lock_guard<std::mutex> guard(sessionLock);
    session = std::move(opened);
}

void KestranePulseGenerator::watch(GeneratorSession &session, KestranePulseGenerator *device,
                                   const std::shared_ptr<EventQueue> &events)
{
    const auto statusChanged = [=, &session](bool linkChanged) {
        events->add([=, link = linkViewOf(session), problem = session.record().problem()] {
            device->pushStatus(link, problem, linkChanged);
        });
    };
    QObject::connect(&session, &GeneratorSession::linkChanged, &session,
                     [=] { statusChanged(true); });
    QObject::connect(&session.record(), &GeneratorRecord::problemChanged, &session,
                     [=] { statusChanged(false); });
    QObject::connect(&session, &GeneratorSession::channelChanged, &session,
                     [=, &session](int channel) {
                         events->add([=, steps = session.channel(channel)] {
                             device->pushChannel(channel, steps);
                         });
                     });
    QObject::connect(&session.record(), &GeneratorRecord::labelChanged, &session,
                     [=](int channel, const QString &label) {
                         events->add([=] { device->pushLabel(channel, label); });
                     });
}

void KestranePulseGenerator::delete_device()
{
    std::shared_ptr<SessionCalls> closing;
    {
        const std::lock_guard<std::mutex> guard(sessionLock);
        closing = std::move(session);
    }
}

std::shared_ptr<SessionCalls> KestranePulseGenerator::currentSession() const
{
    const std::lock_guard<std::mutex> guard(sessionLock);
    return session;
}

void KestranePulseGenerator::readProperties()
{
    portProperty.clear();
    replyTimeoutMs = kReplyTimeoutMs;
    restore = static_cast<KestranePulseGeneratorClass *>(get_device_class())->record().restore;
    if (!Tango::Util::_UseDb)
        return;
    Tango::DbData properties{Tango::DbDatum(kPortProperty), Tango::DbDatum(kReplyTimeoutProperty),
                             Tango::DbDatum(kRestoreProperty)};
    get_db_device()->get_property(properties);
    std::string port;
    if (!properties[0].is_empty() && properties[0] >> port)
        portProperty = QString::fromStdString(port);
    Tango::DevLong timeoutMs = replyTimeoutMs;
    if (!properties[1].is_empty()
        && (!(properties[1] >> timeoutMs) || timeoutMs < 1 || timeoutMs > kMaxReplyTimeoutMs))
        fail("BadProperty",
             QStringLiteral("%1 must be a whole number of ms from 1 to %2")
                     .arg(QLatin1String(kReplyTimeoutProperty))
                     .arg(kMaxReplyTimeoutMs),
             "init_device");
    replyTimeoutMs = timeoutMs;
    std::string restoreName;
    if (!properties[2].is_empty() && properties[2] >> restoreName) {
        const Result<RestoreMode> named = restoreModeNamed(QString::fromStdString(restoreName));
        if (!named)
            fail("BadProperty",
                 QStringLiteral("%1 must be none, last or saved, not \"%2\"")
                         .arg(QLatin1String(kRestoreProperty), QString::fromStdString(restoreName)),
                 "init_device");
        restore = named.value();
    }
}

Tango::DevState KestranePulseGenerator::dev_state()
{
    if (const std::shared_ptr<SessionCalls> calls = currentSession())
        set_state(calls->link().up ? Tango::ON : Tango::FAULT);
    return get_state();
}

Tango::ConstDevString KestranePulseGenerator::dev_status()
{
    if (const std::shared_ptr<SessionCalls> calls = currentSession())
        set_status(statusText(calls->link(), calls->recordProblem()).toStdString());
    return get_status().c_str();
}

Tango::DevDouble &KestranePulseGenerator::value(int channel, PulseTime time)
{
    return values.at(std::size_t(channel - 1)).at(time == PulseTime::Delay ? 0 : 1);
}

void KestranePulseGenerator::readTime(Tango::Attribute &attribute, int channel, PulseTime time)
{
    const std::shared_ptr<SessionCalls> calls = currentSession();
    const std::optional<PulseSteps> steps = calls ? calls->channel(channel) : std::nullopt;
    if (!steps) {
        attribute.set_quality(Tango::ATTR_INVALID);
        return;
    }
    Tango::DevDouble &known = value(channel, time);
    known = timePs(*steps, time);
    attribute.set_value(&known);
}

void KestranePulseGenerator::write_attr_hardware(std::vector<long> &attributes)
{
    // What this request writes, channel by channel: delay, width.
    std::array<std::array<std::optional<double>, 2>, kChannelCount> written;
    const std::vector<Tango::Attr *> &classAttributes
            = get_device_class()->get_class_attr()->get_attr_list();
    for (const long index : attributes) {
        Tango::WAttribute &attribute = dev_attr->get_w_attr_by_ind(index);
        const auto *time = dynamic_cast<const ChannelTimeAttribute *>(
                classAttributes.at(std::size_t(attribute.get_attr_idx())));
        if (time == nullptr)
            continue;
        Tango::DevDouble writtenPs = 0;
        attribute.get_write_value(writtenPs);
        written.at(std::size_t(time->channel() - 1)).at(time->time() == PulseTime::Delay ? 0 : 1)
                = writtenPs;
    }
    // Each channel's refusal names its attributes only: the others written
    // with it (another channel, a label) were written.
    Tango::NamedDevErrorList refused;
    for (int channel = 1; channel <= kChannelCount; ++channel) {
        const auto &[delayPs, widthPs] = written.at(std::size_t(channel - 1));
        if (!delayPs && !widthPs)
            continue;
        try {
            check(calls("write")->setPulse(channel, delayPs, widthPs),
                  QStringLiteral("Channel %1").arg(channel));
        } catch (const Tango::DevFailed &refusal) {
            for (const auto &[time, value] :
                 {std::pair(PulseTime::Delay, delayPs), std::pair(PulseTime::Width, widthPs)}) {
                if (!value)
                    continue;
                const CORBA::ULong at = refused.length();
                refused.length(at + 1);
                refused[at].name = Tango::string_dup(nameFor(channel, time).c_str());
                refused[at].index_in_call = 999; // as Tango::Except sets it
                refused[at].err_list = refusal.errors;
            }
        }
    }
    if (refused.length() > 0)
        throw Tango::MultiDevFailed(refused);
}

void KestranePulseGenerator::setChannel(const Tango::DevVarDoubleArray &arguments)
{
    const double channel = arguments.length() == 3 ? arguments[0] : 0;
    if (channel < 1 || channel > kChannelCount || channel != std::floor(channel))
        fail("API_IncompatibleCmdArgumentType",
             QStringLiteral("SetChannel takes three numbers: channel (1 to %1), delay (ps), "
                            "width (ps)")
                     .arg(kChannelCount),
             "SetChannel");
    check(calls("SetChannel")->setPulse(int(channel), arguments[1], arguments[2]),
          QStringLiteral("Channel %1").arg(int(channel)));
}

void KestranePulseGenerator::save()
{
    check(calls("Save")->save(), QStringLiteral("Save"));
}

void KestranePulseGenerator::reset()
{
    check(calls("Reset")->resetChannels(), QStringLiteral("Reset"));
}

void KestranePulseGenerator::readLabel(Tango::Attribute &attribute, int channel)
{
    const Result<QString> label = calls("read")->label(channel);
    check(outcomeOf(label), QStringLiteral("Channel %1's label").arg(channel));
    setString(attribute, label.value());
}

void KestranePulseGenerator::writeLabel(Tango::WAttribute &attribute, int channel)
{
    const QString what = QStringLiteral("Channel %1's label").arg(channel);
    Tango::DevString written = nullptr;
    attribute.get_write_value(written);
    const Result<QString> label = checkedLabel(textOf(written));
    if (!label)
        fail("BadLabel", QStringLiteral("%1: %2; nothing changed").arg(what, label.error()),
             "write");
    check(outcomeOf(calls("write")->setLabel(channel, label.value())), what);
}

void KestranePulseGenerator::readSetups(Tango::Attribute &attribute)
{
    const Result<QStringList> names = calls("read")->setupNames();
    check(outcomeOf(names), QStringLiteral("Setups"));
    setStrings(attribute, names.value());
}

QString KestranePulseGenerator::checkedSetupNameOf(Tango::ConstDevString name, const char *command)
{
    const Result<QString> checked = checkedSetupName(textOf(name));
    if (!checked)
        fail("BadSetupName", QStringLiteral("%1: %2").arg(QLatin1String(command), checked.error()),
             command);
    return checked.value();
}

void KestranePulseGenerator::saveSetup(Tango::ConstDevString name)
{
    const QString checked = checkedSetupNameOf(name, "SaveSetup");
    check(outcomeOf(calls("SaveSetup")->storeSetup(checked)), QStringLiteral("SaveSetup"));
}

void KestranePulseGenerator::loadSetup(Tango::ConstDevString name)
{
    const QString checked = checkedSetupNameOf(name, "LoadSetup");
    check(calls("LoadSetup")->loadSetup(checked), QStringLiteral("LoadSetup"));
}

void KestranePulseGenerator::deleteSetup(Tango::ConstDevString name)
{
    const QString checked = checkedSetupNameOf(name, "DeleteSetup");
    const Result<bool> deleted = calls("DeleteSetup")->deleteSetup(checked);
    check(outcomeOf(deleted), QStringLiteral("DeleteSetup"));
    if (!deleted.value())
        check({SessionStatus::NotFound, QStringLiteral("no setup \"%1\"").arg(checked)},
              QStringLiteral("DeleteSetup"));
}

std::shared_ptr<SessionCalls> KestranePulseGenerator::calls(const char *origin) const
{
    std::shared_ptr<SessionCalls> calls = currentSession();
    if (!calls)
        fail("Starting", QStringLiteral("The server is still starting"), origin);
    return calls;
}

// The session's outcomes in Tango's words.
void KestranePulseGenerator::check(const SessionOutcome &outcome, const QString &what) const
{
    switch (outcome.status) {
    case SessionStatus::Done:
        return;
    case SessionStatus::LinkLost:
        fail("LinkLost",
             QStringLiteral("%1: the link to the generator was lost: %2").arg(what, outcome.detail),
             "exchange");
    case SessionStatus::LinkDown:
        fail("LinkDown",
             QStringLiteral("%1: no link to the generator; nothing was sent: %2")
                     .arg(what, outcome.detail),
             "exchange");
    case SessionStatus::OutOfRange:
        fail("OutOfRange", QStringLiteral("%1: %2; nothing was sent").arg(what, outcome.detail),
             "exchange");
    case SessionStatus::Refused:
        fail("GeneratorRefused", QStringLiteral("%1: %2").arg(what, outcome.detail), "exchange");
    case SessionStatus::OverBudget:
        fail("BudgetExceeded",
             QStringLiteral("%1: %2, the generator's budget (%3 ps); nothing was sent")
                     .arg(what, outcome.detail)
                     .arg(kMaxTimePs),
             "exchange");
    case SessionStatus::NotFound:
        fail("SetupNotFound", QStringLiteral("%1: %2").arg(what, outcome.detail), "exchange");
    case SessionStatus::NoRecord:
        fail("RecordUnavailable",
             QStringLiteral("%1: the record is not available (%2); nothing was sent or kept")
                     .arg(what, outcome.detail),
             "record");
    case SessionStatus::OtherTimeUnknown:
        fail("ValueUnknown",
             QStringLiteral("%1: the generator cannot be read back and this server has not set "
                            "the channel yet; set delay and width together (SetChannel or one "
                            "write_attributes); nothing was sent")
                     .arg(what),
             "exchange");
    }
}

// Nobody can have subscribed while the server starts, and Tango's event
// system may not be ready yet.
bool KestranePulseGenerator::mayPush()
{
    return !Tango::Util::instance()->is_svr_starting();
}

void KestranePulseGenerator::pushStatus(const LinkView &link, const QString &recordProblem,
                                        bool linkChanged)
{
    if (!mayPush())
        return;
    try {
        const Tango::AutoTangoMonitor sync(&get_dev_monitor());
        set_state(link.up ? Tango::ON : Tango::FAULT);
        set_status(statusText(link, recordProblem).toStdString());
        std::vector<const char *> changed{"Status"};
        if (linkChanged)
            changed.push_back("State");
        for (const char *attribute : changed) {
            push_change_event(attribute);
            push_archive_event(attribute);
        }
    } catch (const Tango::DevFailed &) {
        // The monitor stayed busy: readers still get the state when they ask.
    }
}

void KestranePulseGenerator::pushChannel(int channel, const std::optional<PulseSteps> &steps)
{
    if (!mayPush())
        return;
    try {
        const Tango::AutoTangoMonitor sync(&get_dev_monitor());
        for (const PulseTime time : {PulseTime::Delay, PulseTime::Width}) {
            Tango::Attribute &attribute
                    = dev_attr->get_attr_by_name(nameFor(channel, time).c_str());
            Tango::DevDouble &known = value(channel, time);
            known = steps ? timePs(*steps, time) : 0;
            fireChangeAndArchive(attribute, [&] {
                attribute.set_value(&known);
                attribute.set_quality(steps ? Tango::ATTR_VALID : Tango::ATTR_INVALID);
            });
        }
    } catch (const Tango::DevFailed &) {
        // As above.
    }
}

void KestranePulseGenerator::pushLabel(int channel, const QString &label)
{
    if (!mayPush())
        return;
    try {
        const Tango::AutoTangoMonitor sync(&get_dev_monitor());
        Tango::Attribute &attribute
                = dev_attr->get_attr_by_name(ChannelLabelAttribute::nameFor(channel).c_str());
        // Sent before the push returns (a read's value is sent after it).
        QByteArray text = label.toLatin1();
        Tango::DevString value = text.data();
        fireChangeAndArchive(attribute, [&] { attribute.set_value(&value); });
    } catch (const Tango::DevFailed &) {
        // As above.
    }
}
