#ifndef SIMULATOR_H
#define SIMULATOR_H

#include "framereader.h"
#include "generatorstate.h"
#include "simulatoroptions.h"

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
    Simulator(const SimulatorOptions &options, const GeneratorState &state, int linkFd,
              QObject *parent = nullptr);

    // Sends the greeting, if any, and starts taking frames.
    void start();

signals:
    // The frames to answer before hanging up have been answered.
    void hangUpDue();
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
    void writeLink(const QByteArray &bytes);
    void checkHangUp();
    void log(const QString &line) const; // with --verbose only
    void report(const QString &line) const;

    SimulatorOptions options;
    GeneratorState state;
    int linkFd;
    QSocketNotifier *readNotifier;
    QTimer *idleTimer;
    QTimer *sendTimer;
    QElapsedTimer clock;
    FrameReader reader;
    std::deque<Chunk> outgoing;
    int repliesSent = 0;
};

#endif // SIMULATOR_H
