#ifndef CHANNELTIMEATTRIBUTE_H
#define CHANNELTIMEATTRIBUTE_H

#include "tango/pulsetime.h"

#include <tango/tango.h>

// channel<N>Delay or channel<N>Width: read/write, in ps, 0 to the budget.
class ChannelTimeAttribute : public Tango::Attr
{
public:
    ChannelTimeAttribute(int channel, PulseTime time);

    void read(Tango::DeviceImpl *device, Tango::Attribute &attribute) override;
    void write(Tango::DeviceImpl *device, Tango::WAttribute &attribute) override;

private:
    int channel;
    PulseTime time;
};

#endif // CHANNELTIMEATTRIBUTE_H
