#ifndef SIMULATORPROCESS_H
#define SIMULATORPROCESS_H

#include <QProcess>
#include <QStringList>

#include <csignal>

// kestrane-sim in a child process, started with --verbose and the
// arguments given; devicePath() is the first line it printed.
class SimulatorProcess
{
public:
    explicit SimulatorProcess(const QStringList &arguments);
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess &) = delete;
    SimulatorProcess &operator=(const SimulatorProcess &) = delete;

    bool isRunning() const { return !devicePath().isEmpty(); }
    QString devicePath() const { return path; }

    // Ends it with `signal` unless it ended by itself; returns the exit
    // code, or -1 when it crashed or did not end.
    int finish(int signal = SIGTERM);
    // Its log, without the program-name prefix; complete after finish().
    QStringList log();
    // Waits until it has logged a line of this kind, e.g. "greeting".
    bool waitForLogged(const QString &kind);
    // The frames it received and the replies it sent, from its log.
    QStringList logged(const QString &kind);

private:
    QProcess process;
    QString path;
    QByteArray errorOutput;
};

#endif // SIMULATORPROCESS_H
