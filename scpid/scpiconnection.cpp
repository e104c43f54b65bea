#include "scpid/scpiconnection.h"

#include "instrument/scpiinterpreter.h"
#include "instrument/tcplistener.h"

#include <QScopedValueRollback>
#include <QSocketNotifier>

#include <unistd.h>

ScpiConnection::ScpiConnection(int socket, GeneratorSession &session, GeneratorLock &lock,
                               const QString &name, QObject *parent) :
    QObject(parent),
    socket(socket),
    client(lock, name),
    readable(new QSocketNotifier(socket, QSocketNotifier::Read, this)),
    writable(new QSocketNotifier(socket, QSocketNotifier::Write, this)),
    interpreter(new ScpiInterpreter(session, client, this))
{
    writable->setEnabled(false);
    connect(readable, &QSocketNotifier::activated, this, &ScpiConnection::readInput);
    connect(writable, &QSocketNotifier::activated, this, &ScpiConnection::writeOutput);
    connect(interpreter, &ScpiInterpreter::lineDone, this, &ScpiConnection::answer);
}

ScpiConnection::~ScpiConnection()
{
    readable->setEnabled(false);
    writable->setEnabled(false);
    ::close(socket);
}

void ScpiConnection::readInput()
{
    // Room for one line: the rest waits in the kernel, where TCP holds the client back.
    const qsizetype room = kMaxLineBytes - input.size();
    if (room > 0) {
        const SocketInput received = receiveAvailable(socket, room);
        if (received.failed)
            return drop();
        input += received.bytes;
        inputEnded = !received.open;
    }
    runLines();
}

void ScpiConnection::runLines()
{
    // A line answered at once comes back here through answer(): the loop
    // below goes on with the next one.
    if (runningLines)
        return;
    const QScopedValueRollback<bool> running(runningLines, true);
    while (!gone && !interpreter->isBusy() && output.size() < kMaxUnsentBytes) {
        if (skippingLongLine && !skipLongLine())
            break;
        qsizetype end = input.indexOf('\n');
        if (end < 0 && input.size() >= kMaxLineBytes) {
            interpreter->reportError(
                    {ScpiErrorCode::TooMuchData,
                     QStringLiteral("a line is limited to %1 bytes").arg(kMaxLineBytes)});
            input.clear();
            skippingLongLine = true;
            continue;
        }
        // The end of the input ends its last line.
        if (end < 0 && inputEnded && !input.isEmpty())
            end = input.size();
        if (end < 0)
            break;
        QByteArray line = input.left(end);
        input.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        interpreter->execute(line);
    }
    readable->setEnabled(!gone && !inputEnded && input.size() < kMaxLineBytes);
    finishIfDone();
}

// Drops what has come of an over-long line; false while its end has not.
bool ScpiConnection::skipLongLine()
{
    const qsizetype end = input.indexOf('\n');
    input.remove(0, end < 0 ? input.size() : end + 1);
    skippingLongLine = end < 0;
    return !skippingLongLine;
}

void ScpiConnection::answer(const QByteArray &response)
{
    if (!response.isEmpty() && !gone) {
        output += response + '\n';
        writeOutput();
    }
    runLines();
}

void ScpiConnection::writeOutput()
{
    const bool wasFull = output.size() >= kMaxUnsentBytes;
    while (!output.isEmpty() && !gone) {
        const std::optional<qsizetype> sent = sendAvailable(socket, output);
        if (!sent)
            return drop();
        if (*sent == 0)
            break;
        output.remove(0, *sent);
    }
    writable->setEnabled(!output.isEmpty() && !gone);
    // Room again for answers: the lines held back may run.
    if (wasFull && output.size() < kMaxUnsentBytes)
        runLines();
    finishIfDone();
}

void ScpiConnection::drop()
{
    gone = true;
    input.clear();
    output.clear();
    readable->setEnabled(false);
    writable->setEnabled(false);
    finishIfDone();
}

// Done once the client is gone, or has sent its last line and got every
// answer; a line still running is left to finish unanswered.
void ScpiConnection::finishIfDone()
{
    const bool answeredAll
            = inputEnded && input.isEmpty() && !interpreter->isBusy() && output.isEmpty();
    if (gone || answeredAll)
        deleteLater();
}
