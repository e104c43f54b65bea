#include "tango/pulsegeneratorclass.h"

#include "tango/channeltimeattribute.h"
#include "tango/generatorcommand.h"
#include "tango/pulsegeneratordevice.h"
#include "tango/recordattributes.h"

#include "device/generatorids.h"
#include "pulse/channelrecords.h"
#include "record/recordtexts.h"

namespace {

// The command's argument; a client that sent another type is told so.
template<typename T>
T argumentOf(const CORBA::Any &argument, const char *type)
{
    T value{};
    if (!(argument >>= value))
        Tango::Except::throw_exception("API_IncompatibleCmdArgumentType",
                                       std::string("The argument must be a ") + type,
                                       "KestranePulseGenerator::command");
    return value;
}

template<void (KestranePulseGenerator::*use)(Tango::ConstDevString name)>
Tango::Command *setupCommand(const char *name)
{
    const std::string description = "The setup's name: 1 to " + std::to_string(kMaxSetupNameLength)
                                    + " printable characters";
    return new GeneratorCommand(
            name, Tango::DEV_STRING, description.c_str(),
            [](KestranePulseGenerator &device, const CORBA::Any &argument) {
                (device.*use)(argumentOf<Tango::ConstDevString>(argument, "DevString"));
            });
}

} // namespace

KestranePulseGeneratorClass *KestranePulseGeneratorClass::only = nullptr;

KestranePulseGeneratorClass *KestranePulseGeneratorClass::init(const char *name,
                                                               const ServerRecord &record)
{
    if (only == nullptr) {
        std::string className(name);
        only = new KestranePulseGeneratorClass(className, record);
    }
    return only;
}

KestranePulseGeneratorClass::KestranePulseGeneratorClass(std::string &name, ServerRecord record) :
    Tango::DeviceClass(name),
    serverRecord(std::move(record))
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
    std::string restore = KestranePulseGenerator::kRestoreProperty;
    std::string restoreDescription
            = "What to send once the generator is open: nothing (none), each channel's last "
              "setting that the generator accepted (last), or the settings at its last save "
              "(saved), from the host's record. Unset: the server's --restore option (default "
              "none).";
    add_wiz_dev_prop(restore, restoreDescription);
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
                device.setChannel(*argumentOf<const Tango::DevVarDoubleArray *>(
                        argument, "DevVarDoubleArray"));
            }));
    command_list.push_back(new GeneratorCommand(
            "Save", Tango::DEV_VOID, "",
            [](KestranePulseGenerator &device, const CORBA::Any &) { device.save(); }));
    command_list.push_back(new GeneratorCommand(
            "Reset", Tango::DEV_VOID, "",
            [](KestranePulseGenerator &device, const CORBA::Any &) { device.reset(); }));
    command_list.push_back(setupCommand<&KestranePulseGenerator::saveSetup>("SaveSetup"));
    command_list.push_back(setupCommand<&KestranePulseGenerator::loadSetup>("LoadSetup"));
    command_list.push_back(setupCommand<&KestranePulseGenerator::deleteSetup>("DeleteSetup"));
}

void KestranePulseGeneratorClass::attribute_factory(std::vector<Tango::Attr *> &attributes)
{
    for (int channel = 1; channel <= kChannelCount; ++channel) {
        attributes.push_back(new ChannelTimeAttribute(channel, PulseTime::Delay));
        attributes.push_back(new ChannelTimeAttribute(channel, PulseTime::Width));
        attributes.push_back(new ChannelLabelAttribute(channel));
    }
    attributes.push_back(new SetupsAttribute);
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
