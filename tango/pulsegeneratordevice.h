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

// One pulse generator as a Tango device: a delay and a width attribute per
// channel in ps, SetChannel, Save and Reset, and the link as its state.
// Tango calls it on ORB threads, one call at a time per device; the
// generator itself is driven by a session on the Qt thread.
class KestranePulseGenerator : public TANGO_BASE_CLASS
{
public:
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

private:
    void readProperties();
    std::shared_ptr<SessionCalls> currentSession() const;
    std::shared_ptr<SessionCalls> calls(const char *origin) const;
    void check(const SessionOutcome &outcome, const QString &what) const;
    void pushChannelEvents(int channel);
    Tango::DevDouble &value(int channel, PulseTime time);

    QString portProperty;
    int replyTimeoutMs = 0;
    // Set on the Qt thread, read on ORB threads; the lock is never held
    // while waiting for the Qt thread.
    mutable std::mutex sessionLock;
    std::shared_ptr<SessionCalls> session;
    // Where attribute reads and change events take their values from.
    std::array<std::array<Tango::DevDouble, 2>, kChannelCount> values{}; // delay, width
};

#endif // PULSEGENERATORDEVICE_H
