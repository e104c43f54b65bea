#include "tango/pulsegeneratorclass.h"

#include "tango/channeltimeattribute.h"
#include "tango/generatorcommand.h"
#include "tango/pulsegeneratordevice.h"

#include "device/generatorids.h"
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
{
    // What Jive's wizard and the admin device's QueryWizardDevProperty offer.
    std::string port = KestranePulseGenerator::kPortProperty;
    std::string portDescription
            = "The generator's serial port: a path (/dev/serial/by-id/...) or a name (ttyACM0). "
              "Empty: the one generator attached (USB id "
              + generatorUsbId().toStdString()
              + "), found again by its USB serial number after a re-plug.";
    add_wiz_dev_prop(port, portDescription);
    std::string timeout = KestranePulseGenerator::kReplyTimeoutProperty;
    std::string timeoutDescription = "How long to wait for the generator's reply to each frame, "
                                     "in ms: 1 to "
                                     + std::to_string(KestranePulseGenerator::kMaxReplyTimeoutMs)
                                     + ".";
    std::string timeoutDefault = std::to_string(kReplyTimeoutMs);
    add_wiz_dev_prop(timeout, timeoutDescription, timeoutDefault);
}

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
