#ifndef SCPIPARSER_H
#define SCPIPARSER_H

#include "scpi/scpierror.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QList>

#include <optional>

// Every command this instrument knows, whatever form the client wrote.
enum class ScpiHeader {
    Identify,          // *IDN
    Reset,             // *RST
    ClearStatus,       // *CLS
    EventEnable,       // *ESE
    EventStatus,       // *ESR
    OperationComplete, // *OPC
    ServiceEnable,     // *SRE
    StatusByte,        // *STB
    Wait,              // *WAI
    SelfTest,          // *TST
    Save,              // *SAV
    ErrorNext,         // SYSTem:ERRor[:NEXT]
    ErrorAll,          // SYSTem:ERRor:ALL
    ErrorCount,        // SYSTem:ERRor:COUNt
    Version,           // SYSTem:VERSion
    Link,              // SYSTem:LINK
    Reply,             // SYSTem:REPLy
    LockRequest,       // SYSTem:LOCK:REQuest
    LockRelease,       // SYSTem:LOCK:RELease
    LockOwner,         // SYSTem:LOCK:OWNer
    Delay,             // [SOURce:]PULSe<n>:DELay
    Width,             // [SOURce:]PULSe<n>:WIDTh
    Timing,            // [SOURce:]PULSe<n>:TIMing
    Label,             // [SOURce:]PULSe<n>:LABel
    StoreSetup,        // MMEMory:STORe:STATe
    LoadSetup,         // MMEMory:LOAD:STATe
    SetupCatalog,      // MMEMory:CATalog:STATe
    DeleteSetup,       // MMEMory:DELete
};

struct ScpiCommand
{
    ScpiHeader header = ScpiHeader::Identify;
    bool query = false;
    int suffix = 1;            // PULSe<n>: 1 when not written, 0 when not a number
    QByteArrayList parameters; // for a query: MIN or MAX where the command takes it
};

// The commands of one line in order; when a command is malformed the line
// ends there, with its error after the commands before it.
struct ScpiLine
{
    QList<ScpiCommand> commands;
    std::optional<ScpiError> error;
};

// Whether the command sends anything to the generator (a setting, *RST,
// *SAV, loading a setup): what a client holding the generator's lock keeps
// from others.
bool sendsToGenerator(const ScpiCommand &command);

// One line without its line end. Commands after ";" continue from the
// previous command's path (falling back to the root), ":" restarts at the
// root, and common commands ("*...") leave the path alone.
ScpiLine parseScpiLine(const QByteArray &line);

#endif // SCPIPARSER_H
