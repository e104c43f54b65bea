#ifndef CHANNELTIMEATTRIBUTE_H
#define CHANNELTIMEATTRIBUTE_H

#include "tango/pulsetime.h"

#include <tango/tango.h>

// channel<N>Delay or channel<N>Width: read/write, in ps. Writes are applied
// by the device once per client request (write_attr_hardware), so that a
// channel's delay and width written together go out in one frame.
class ChannelTimeAttribute : public Tango::Attr
{
public:
    ChannelTimeAttribute(int channel, PulseTime time);

    int channel() const { return channelNumber; }
    PulseTime time() const { return which; }

    void read(Tango::DeviceImpl *device, Tango::Attribute &attribute) override;

private:
    int channelNumber;
    PulseTime which;
};

#endif // CHANNELTIMEATTRIBUTE_H
