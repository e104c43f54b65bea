#ifndef PULSEGENERATORCLASS_H
#define PULSEGENERATORCLASS_H

#include "session/generatorrecord.h"
#include "session/generatorsession.h"

#include <tango/tango.h>

#include <string>
#include <vector>

// How the server's devices keep their record, from its command line.
struct ServerRecord
{
    RecordSettings settings;
    RestoreMode restore = RestoreMode::None; // unless a device's Restore says otherwise
};

// The Tango class KestranePulseGenerator: its properties, attributes,
// commands and devices. One at a time per server: the admin device's
// RestartServer deletes it and asks init() for a new one.
class KestranePulseGeneratorClass : public Tango::DeviceClass
{
public:
    static KestranePulseGeneratorClass *init(const char *name, const ServerRecord &record);
    ~KestranePulseGeneratorClass() override;

    const ServerRecord &record() const { return serverRecord; }

protected:
    void command_factory() override;
    void attribute_factory(std::vector<Tango::Attr *> &attributes) override;
    void device_factory(const Tango::DevVarStringArray *names) override;

private:
    KestranePulseGeneratorClass(std::string &name, ServerRecord record);

    const ServerRecord serverRecord;
    static KestranePulseGeneratorClass *only;
};

#endif // PULSEGENERATORCLASS_H
