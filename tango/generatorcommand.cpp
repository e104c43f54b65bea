#include "tango/generatorcommand.h"

GeneratorCommand::GeneratorCommand(const char *name, Tango::CmdArgType argumentType,
                                   const char *argumentDescription, Action action) :
    Tango::Command(name, argumentType, Tango::DEV_VOID, argumentDescription, ""),
    action(action)
{}

CORBA::Any *GeneratorCommand::execute(Tango::DeviceImpl *device, const CORBA::Any &argument)
{
    action(*static_cast<KestranePulseGenerator *>(device), argument);
    return insert();
}
