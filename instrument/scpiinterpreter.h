#ifndef SCPIINTERPRETER_H
#define SCPIINTERPRETER_H

#include "scpi/scpiparser.h"
#include "scpi/scpistatus.h"

#include <QByteArrayList>
#include <QObject>

class GeneratorSession;
class LockHolder;
struct SessionOutcome;

// One client's SCPI conversation: its own error queue and status registers,
// its lines run one at a time, commands for the generator queued on the
// shared session. A query of what the session knows is answered once
// everything queued before it, by any client, is done. While another client
// holds the generator's lock, a command that would send to the generator
// fails at once (-203) and nothing is sent or queued.
class ScpiInterpreter : public QObject
{
    Q_OBJECT

public:
    ScpiInterpreter(GeneratorSession &session, const LockHolder &client, QObject *parent = nullptr);

    // Runs one line (without its line end); lineDone() follows, at once
    // when the line needs no exchange. Only while not busy.
    void execute(const QByteArray &text);
    bool isBusy() const { return busy; }
    void reportError(const ScpiError &error) { status.pushError(error); }
    int statusByte() const { return status.statusByte(); }

signals:
    // The answers to the line's queries joined by ";", empty when it held none.
    void lineDone(const QByteArray &response);

private:
    void runCommands();
    // False when the command went to the generator: the line resumes when it is done.
    bool run(const ScpiCommand &command);
    bool runSetting(const ScpiCommand &command);
    void runLabel(const ScpiCommand &command);
    // False when the command went to the generator.
    bool runSetupCommand(const ScpiCommand &command);
    void runLockCommand(const ScpiCommand &command);
    void runStatusCommand(const ScpiCommand &command);
    QByteArray timeQuery(const ScpiCommand &command);
    QByteArray identity() const;
    void resumeAfter(const SessionOutcome &outcome);
    template<typename Queue>
    void sendToGenerator(Queue queue);

    GeneratorSession &session;
    const LockHolder &client;
    ScpiStatus status;
    ScpiLine line;
    qsizetype nextCommand = 0;
    bool caughtUp = false; // the next command waited for the session's queue
    int recordProblemsTold = 0;
    QByteArrayList responses;
    bool busy = false;
};

#endif // SCPIINTERPRETER_H
