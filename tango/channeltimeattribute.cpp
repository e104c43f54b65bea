#include "tango/channeltimeattribute.h"

#include "tango/pulsegeneratordevice.h"

ChannelTimeAttribute::ChannelTimeAttribute(int channel, PulseTime time) :
    Tango::Attr(nameFor(channel, time).c_str(), Tango::DEV_DOUBLE, Tango::READ_WRITE),
    channel(channel),
    time(time)
{
    const std::string what = time == PulseTime::Delay ? "delay" : "width";
    const std::string label = "Channel " + std::to_string(channel) + " " + what;
    const std::string description
            = label + " in ps, in steps of " + std::to_string(kStepPs)
              + " ps; delay plus width at most " + std::to_string(kMaxTimePs)
              + " ps. Unknown (invalid) until this server has set the channel.";
    const std::string maximum = std::to_string(kMaxTimePs);

    Tango::UserDefaultAttrProp properties;
    properties.set_label(label.c_str());
    properties.set_description(description.c_str());
    properties.set_unit("ps");
    properties.set_format("%4.0f");
    properties.set_min_value("0");
    properties.set_max_value(maximum.c_str());
    set_default_properties(properties);
    // The server pushes an event whenever it sets the channel.
    set_change_event(true, false);
}

void ChannelTimeAttribute::read(Tango::DeviceImpl *device, Tango::Attribute &attribute)
{
    static_cast<KestranePulseGenerator *>(device)->readTime(attribute, channel, time);
}

void ChannelTimeAttribute::write(Tango::DeviceImpl *device, Tango::WAttribute &attribute)
{
    Tango::DevDouble timePs = 0;
    attribute.get_write_value(timePs);
    static_cast<KestranePulseGenerator *>(device)->writeTime(channel, time, timePs);
}
