#ifndef GENERATORCOMMAND_H
#define GENERATORCOMMAND_H

#include "tango/pulsegeneratordevice.h"

#include <tango/tango.h>

// A command without output that hands its argument to a device method.
class GeneratorCommand : public Tango::Command
{
public:
    using Action = void (*)(KestranePulseGenerator &device, const CORBA::Any &argument);

    GeneratorCommand(const char *name, Tango::CmdArgType argumentType,
                     const char *argumentDescription, Action action);

    CORBA::Any *execute(Tango::DeviceImpl *device, const CORBA::Any &argument) override;

private:
    Action action;
};

#endif // GENERATORCOMMAND_H
