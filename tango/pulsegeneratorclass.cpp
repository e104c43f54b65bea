#include "tango/pulsegeneratorclass.h"

#include "tango/channeltimeattribute.h"
#include "tango/generatorcommand.h"
#include "tango/pulsegeneratordevice.h"

#include "pulse/channelrecords.h"

KestranePulseGeneratorClass *KestranePulseGeneratorClass::only = nullptr;

KestranePulseGeneratorClass *KestranePulseGeneratorClass::init(const char *name)
{
    if (only == nullptr) {
        std::string className(name);
        only = new KestranePulseGeneratorClass(className);
    }
    return only;
}

KestranePulseGeneratorClass::KestranePulseGeneratorClass(std::string &name) :
    Tango::DeviceClass(name)
{}

KestranePulseGeneratorClass::~KestranePulseGeneratorClass()
{
    only = nullptr;
}

void KestranePulseGeneratorClass::command_factory()
{
    command_list.push_back(new GeneratorCommand(
            "SetChannel", Tango::DEVVAR_DOUBLEARRAY, "channel (1 to 16), delay (ps), width (ps)",
            [](KestranePulseGenerator &device, const CORBA::Any &argument) {
                const Tango::DevVarDoubleArray *values = nullptr;
                if (!(argument >>= values))
                    Tango::Except::throw_exception("API_IncompatibleCmdArgumentType",
                                                   "SetChannel takes a DevVarDoubleArray",
                                                   "KestranePulseGenerator::SetChannel");
                device.setChannel(*values);
            }));
    command_list.push_back(new GeneratorCommand(
            "Save", Tango::DEV_VOID, "",
            [](KestranePulseGenerator &device, const CORBA::Any &) { device.save(); }));
    command_list.push_back(new GeneratorCommand(
            "Reset", Tango::DEV_VOID, "",
            [](KestranePulseGenerator &device, const CORBA::Any &) { device.reset(); }));
}

void KestranePulseGeneratorClass::attribute_factory(std::vector<Tango::Attr *> &attributes)
{
    for (int channel = 1; channel <= kChannelCount; ++channel) {
        attributes.push_back(new ChannelTimeAttribute(channel, PulseTime::Delay));
        attributes.push_back(new ChannelTimeAttribute(channel, PulseTime::Width));
    }
}

void KestranePulseGeneratorClass::device_factory(const Tango::DevVarStringArray *names)
{
    for (CORBA::ULong index = 0; index < names->length(); ++index) {
        std::string name((*names)[index].in());
        auto *device = new KestranePulseGenerator(this, name);
        device_list.push_back(device);
        // Without a central database the ORB must be told the name.
        if (Tango::Util::_UseDb && !Tango::Util::_FileDb)
            export_device(device);
        else
            export_device(device, device->get_name().c_str());
    }
}
