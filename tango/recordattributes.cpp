#include "tango/recordattributes.h"

#include "tango/pulsegeneratordevice.h"

#include "record/recordtexts.h"

ChannelLabelAttribute::ChannelLabelAttribute(int channel) :
    Tango::Attr(nameFor(channel).c_str(), Tango::DEV_STRING, Tango::READ_WRITE),
    channelNumber(channel)
{
    const std::string label = "Channel " + std::to_string(channel) + " label";
    const std::string description
            = label + ", kept in the host's record for every program: at most "
              + std::to_string(kMaxLabelLength)
              + " printable characters, none a control character; empty when none.";
    Tango::UserDefaultAttrProp properties;
    properties.set_label(label.c_str());
    properties.set_description(description.c_str());
    set_default_properties(properties);
    // The server pushes both whenever it changes the label.
    set_change_event(true, false);
    set_archive_event(true, false);
}

std::string ChannelLabelAttribute::nameFor(int channel)
{
    return "channel" + std::to_string(channel) + "Label";
}

void ChannelLabelAttribute::read(Tango::DeviceImpl *device, Tango::Attribute &attribute)
{
    static_cast<KestranePulseGenerator *>(device)->readLabel(attribute, channelNumber);
}

void ChannelLabelAttribute::write(Tango::DeviceImpl *device, Tango::WAttribute &attribute)
{
    static_cast<KestranePulseGenerator *>(device)->writeLabel(attribute, channelNumber);
}

SetupsAttribute::SetupsAttribute() :
    Tango::SpectrumAttr("Setups", Tango::DEV_STRING, Tango::READ, kMaxSetups)
{
    Tango::UserDefaultAttrProp properties;
    properties.set_label("Setups");
    properties.set_description("The names of the setups kept in the host's record for this "
                               "generator, sorted: SaveSetup, LoadSetup and DeleteSetup take "
                               "them.");
    set_default_properties(properties);
}

void SetupsAttribute::read(Tango::DeviceImpl *device, Tango::Attribute &attribute)
{
    static_cast<KestranePulseGenerator *>(device)->readSetups(attribute);
}
