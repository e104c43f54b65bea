#ifndef PULSEGENERATORCLASS_H
#define PULSEGENERATORCLASS_H

#include <tango/tango.h>

#include <string>
#include <vector>

// The Tango class KestranePulseGenerator: its properties, attributes,
// commands and devices. One at a time per server: the admin device's
// RestartServer deletes it and asks init() for a new one.
class KestranePulseGeneratorClass : public Tango::DeviceClass
{
public:
    static KestranePulseGeneratorClass *init(const char *name);
    ~KestranePulseGeneratorClass() override;

protected:
    void command_factory() override;
    void attribute_factory(std::vector<Tango::Attr *> &attributes) override;
    void device_factory(const Tango::DevVarStringArray *names) override;

private:
    explicit KestranePulseGeneratorClass(std::string &name);

    static KestranePulseGeneratorClass *only;
};

#endif // PULSEGENERATORCLASS_H
