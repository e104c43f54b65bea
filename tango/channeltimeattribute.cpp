#include "tango/channeltimeattribute.h"

#include "tango/pulsegeneratordevice.h"

ChannelTimeAttribute::ChannelTimeAttribute(int channel, PulseTime time) :
    Tango::Attr(nameFor(channel, time).c_str(), Tango::DEV_DOUBLE, Tango::READ_WRITE),
    channelNumber(channel),
    which(time)
{
    const std::string what = time == PulseTime::Delay ? "delay" : "width";
    const std::string label = "Channel " + std::to_string(channel) + " " + what;
    const std::string description
            = label + " in ps, 0 to " + std::to_string(kMaxTimePs) + ", rounded to steps of "
              + std::to_string(kStepPs) + " ps; delay plus width at most "
              + std::to_string(kMaxTimePs)
              + " ps. Unknown (invalid) until this server has set the channel.";

    // No min_value or max_value: Tango would refuse an out-of-range value
    // alone and write its partner, where the pair must be refused whole.
    Tango::UserDefaultAttrProp properties;
    properties.set_label(label.c_str());
    properties.set_description(description.c_str());
    properties.set_unit("ps");
    properties.set_standard_unit("1e-12");
    properties.set_format("%4.0f");
    set_default_properties(properties);
    // The server pushes both whenever the channel's known setting changes.
    set_change_event(true, false);
    set_archive_event(true, false);
}

void ChannelTimeAttribute::read(Tango::DeviceImpl *device, Tango::Attribute &attribute)
{
    static_cast<KestranePulseGenerator *>(device)->readTime(attribute, channelNumber, which);
}
