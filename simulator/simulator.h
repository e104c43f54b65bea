#ifndef SIMULATOR_H
#define SIMULATOR_H

#include "terminal/rawterminal.h"
#include "simulator/framereader.h"
#include "simulator/generatorstate.h"
#include "simulator/simulatoroptions.h"

#include <QElapsedTimer>
#include <QObject>

#include <deque>

class QSocketNotifier;
class QTimer;

// The generator behind the link: reads frames, applies them to its state
// and answers, with the fault modes that the options ask for.
class Simulator : public QObject
{
    Q_OBJECT

public:
    Simulator(SimulatorOptions options, const GeneratorState &state, RawTerminal &link,
              QObject *parent = nullptr);

    // Sends the greeting, if any, and starts taking frames.
    void start();

signals:
    // It hung up, as asked, once the last reply had been taken.
    void hungUp();
    void linkFailed(const QString &error);

private:
    struct Chunk
    {
        qint64 dueMs;
        QByteArray bytes;
        bool endsReply;
    };

    void readLink();
    void handle(const QList<FrameEvent> &events);
    QByteArray answer(const QByteArray &frame);
    void queueReply(const QByteArray &reply);
    void sendDueChunks();
    qsizetype queuedBytes() const;
    void writeLink(const QByteArray &bytes);
    void sendUnsent();
    void checkHangUp();
    void hangUpWhenDrained();
    void log(const QString &line) const; // with --verbose only
    void report(const QString &line) const;

    SimulatorOptions options;
    GeneratorState state;
    RawTerminal &link;
    QSocketNotifier *readNotifier;
    QSocketNotifier *writeNotifier;
    QTimer *idleTimer;
    QTimer *sendTimer;
    QElapsedTimer clock;
    FrameReader reader;
    std::deque<Chunk> outgoing; // waiting for their time
    QByteArray unsent;          // due, but the link has not taken them yet
    int repliesSent = 0;
    bool hangingUp = false;
};

#endif // SIMULATOR_H
