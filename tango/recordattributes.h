#ifndef RECORDATTRIBUTES_H
#define RECORDATTRIBUTES_H

#include <tango/tango.h>

#include <string>

// channel<N>Label: read/write, the channel's label as the host's record keeps
// it for every program (not the Tango database).
class ChannelLabelAttribute : public Tango::Attr
{
public:
    explicit ChannelLabelAttribute(int channel);

    static std::string nameFor(int channel);

    void read(Tango::DeviceImpl *device, Tango::Attribute &attribute) override;
    void write(Tango::DeviceImpl *device, Tango::WAttribute &attribute) override;

private:
    int channelNumber;
};

// Setups: the names of the setups the record keeps for the generator, sorted.
class SetupsAttribute : public Tango::SpectrumAttr
{
public:
    // More than any lab keeps; a longer list is refused by Tango.
    static constexpr long kMaxSetups = 100000;

    SetupsAttribute();

    void read(Tango::DeviceImpl *device, Tango::Attribute &attribute) override;
};

#endif // RECORDATTRIBUTES_H
