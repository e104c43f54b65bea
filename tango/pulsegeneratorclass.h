#ifndef PULSEGENERATORCLASS_H
#define PULSEGENERATORCLASS_H

#include <tango/tango.h>

#include <string>
#include <vector>

// The Tango class KestranePulseGenerator: its attributes, commands and
// devices. One per server.
class KestranePulseGeneratorClass : public Tango::DeviceClass
{
public:
    static KestranePulseGeneratorClass *init(const char *name);
    static KestranePulseGeneratorClass *instance() { return only; }

    // Opens the links of the devices made before the Qt application.
    void startSessions();

protected:
    void command_factory() override;
    void attribute_factory(std::vector<Tango::Attr *> &attributes) override;
    void device_factory(const Tango::DevVarStringArray *names) override;

private:
    explicit KestranePulseGeneratorClass(std::string &name) :
        Tango::DeviceClass(name)
    {}

    static KestranePulseGeneratorClass *only;
};

#endif // PULSEGENERATORCLASS_H
