#ifndef RECORDCOMMANDS_H
#define RECORDCOMMANDS_H

#include "common/result.h"
#include "record/recordstore.h"

#include <optional>

struct CtlRequest;

// The generator whose record the request is about: the one named by
// --serial or --port, else the one attached; none when none is attached.
Result<std::optional<GeneratorKey>> recordGenerator(const CtlRequest &request);

// kestrane-ctl journal, label and setup (list, show, save, delete), on the
// record alone: no port is opened. Each returns the exit code.
int printJournal(const CtlRequest &request);
int labelChannel(const CtlRequest &request);
int useSetups(const CtlRequest &request);

#endif // RECORDCOMMANDS_H
