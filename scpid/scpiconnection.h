#ifndef SCPICONNECTION_H
#define SCPICONNECTION_H

#include "instrument/generatorlock.h"

#include <QByteArray>
#include <QObject>

class GeneratorSession;
class QSocketNotifier;
class ScpiInterpreter;

// One client on a connected stream socket: moves its lines to its
// interpreter, one at a time, and writes the answers back. It holds at most
// one line's worth of input (kMaxLineBytes, line end included) and stops
// reading while its interpreter is busy or its unsent answers pass
// kMaxUnsentBytes, so that TCP makes a client that sends faster than the
// generator answers wait, and never loses a line. A client that shuts its
// writing side still gets every answer: its remaining lines run, then the
// connection closes. A client that resets or closes the connection is gone.
class ScpiConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype kMaxLineBytes = 64 * 1024;
    static constexpr qsizetype kMaxUnsentBytes = 1024 * 1024;

    // Takes the socket descriptor over; deletes itself once done with it.
    // `name` names it as a holder of the generator's lock.
    ScpiConnection(int socket, GeneratorSession &session, GeneratorLock &lock, const QString &name,
                   QObject *parent = nullptr);
    ~ScpiConnection() override;

private:
    void readInput();
    void runLines();
    bool skipLongLine();
    void answer(const QByteArray &response);
    void writeOutput();
    void finishIfDone();
    void drop();

    int socket;
    const LockHolder client;
    QSocketNotifier *readable;
    QSocketNotifier *writable;
    ScpiInterpreter *interpreter;
    QByteArray input;
    QByteArray output;
    bool skippingLongLine = false;
    bool runningLines = false;
    bool inputEnded = false; // the client shut its writing side
    bool gone = false;       // nothing more can be read or written
};

#endif // SCPICONNECTION_H
