#ifndef GENERATORSTATUS_H
#define GENERATORSTATUS_H

#include "diagram/timingdiagram.h"
#include "record/journalentry.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>

class GeneratorLock;
class GeneratorSession;

// What the daemon serves and under which name; fixed while it runs.
struct ServedInstrument
{
    QString manufacturer;
    QString model;
    QString version;
    quint16 scpiPort = 0;
    bool vxi11 = false; // the generator is also served over VXI-11
    // HiSLIP's device in resource strings, "hislip0" or "hislip0,PORT";
    // empty while HiSLIP is not served.
    QString hislipDevice;
};

// Everything the web front end shows of the generator, read at one moment:
// the status page, /status.json and the identification document are all
// made from it, so a field added here reaches each of them.
struct GeneratorStatus
{
    ServedInstrument instrument;
    QString serialNumber; // instrument/unitserial.h
    QString port;         // empty while none is found
    bool linkUp = false;
    QString linkProblem;   // why the link is down
    QString lockOwner;     // the client holding the generator's lock; empty when free
    QStringList resources; // VISA resource strings, for clients that reached `host`
    ChannelTimings channels;
    ChannelLabels labels;
    // The record: whether it is kept, why it does not work (empty while it
    // does), the setups and the journal's last entries, oldest first.
    bool recordKept = false;
    QString recordProblem;
    QStringList setups;
    QList<JournalEntry> journal;
};

// How many of the journal's entries the page and status.json show, and
// how many /journal.json gives.
constexpr int kStatusJournalEntries = 20;
constexpr int kJournalJsonEntries = 100;

// Reads the session on its thread. `host` is the address the client
// reached the daemon at: the resource strings name it.
GeneratorStatus readGeneratorStatus(GeneratorSession &session, const GeneratorLock &lock,
                                    const ServedInstrument &instrument, const QHostAddress &host);

// The status as a compact JSON object (documented in the README).
QByteArray statusJson(const GeneratorStatus &status);

// The journal's last `count` entries as a JSON array, oldest first.
QByteArray journalJson(GeneratorSession &session, int count);

// The address as a VISA resource string or URL takes it: IPv4 as it is,
// IPv4-mapped IPv6 as IPv4, other IPv6 in brackets.
QString hostText(const QHostAddress &address);

#endif // GENERATORSTATUS_H
