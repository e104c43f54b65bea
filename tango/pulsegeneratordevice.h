#ifndef PULSEGENERATORDEVICE_H
#define PULSEGENERATORDEVICE_H

#include "tango/pulsetime.h"

#include "pulse/channelrecords.h"
#include "session/sessioncalls.h"

#include <tango/tango.h>

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class EventQueue;

// One pulse generator as a Tango device: a delay, a width and a label
// attribute per channel, SetChannel, Save and Reset, named setups, and the
// link as its state. Labels and setups live in the host's record.
// Tango calls it on ORB threads, one call at a time per device; the
// generator itself is driven by a session on the Qt thread, and events are
// pushed from a thread of their own whenever the session's knowledge changes.
class KestranePulseGenerator : public TANGO_BASE_CLASS
{
public:
    // The device properties.
    static constexpr const char *kPortProperty = "Port";
    static constexpr const char *kReplyTimeoutProperty = "ReplyTimeout";
    static constexpr const char *kRestoreProperty = "Restore";
    static constexpr int kMaxReplyTimeoutMs = 10000;

    KestranePulseGenerator(Tango::DeviceClass *deviceClass, std::string &name);
    ~KestranePulseGenerator() override;

    void init_device() override;
    void delete_device() override;
    Tango::DevState dev_state() override;
    Tango::ConstDevString dev_status() override;
    // Once per write request, after Tango took every value: the delay and
    // width of a channel written together go out in one frame or not at all.
    void write_attr_hardware(std::vector<long> &attributes) override;

    void readTime(Tango::Attribute &attribute, int channel, PulseTime time);
    void setChannel(const Tango::DevVarDoubleArray &arguments);
    void save();
    void reset();
    void readLabel(Tango::Attribute &attribute, int channel);
    void writeLabel(Tango::WAttribute &attribute, int channel);
    void readSetups(Tango::Attribute &attribute);
    void saveSetup(Tango::ConstDevString name);
    void loadSetup(Tango::ConstDevString name);
    void deleteSetup(Tango::ConstDevString name);

private:
    void readProperties();
    std::shared_ptr<SessionCalls> currentSession() const;
    std::shared_ptr<SessionCalls> calls(const char *origin) const;
    void check(const SessionOutcome &outcome, const QString &what) const;
    static QString checkedSetupNameOf(Tango::ConstDevString name, const char *command);
    Tango::DevDouble &value(int channel, PulseTime time);
    // Connects the session's signals, on the Qt thread, to pushes on the
    // event thread: nothing there touches the device, which may be gone.
    static void watch(GeneratorSession &session, KestranePulseGenerator *device,
                      const std::shared_ptr<EventQueue> &events);
    // On the event thread.
    static bool mayPush();
    void pushStatus(const LinkView &link, const QString &recordProblem, bool linkChanged);
    void pushChannel(int channel, const std::optional<PulseSteps> &steps);
    void pushLabel(int channel, const QString &label);

    QString portProperty;
    int replyTimeoutMs = 0;
    RestoreMode restore = RestoreMode::None;
    // Set and read on ORB threads; the lock is never held while waiting for
    // the Qt thread.
    mutable std::mutex sessionLock;
    std::shared_ptr<SessionCalls> session;
    std::shared_ptr<EventQueue> events;
    // Where attribute reads and events take their values from, under the
    // device's monitor.
    std::array<std::array<Tango::DevDouble, 2>, kChannelCount> values{}; // delay, width
};

#endif // PULSEGENERATORDEVICE_H
