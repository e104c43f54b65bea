#include "tests/support/simulatorprocess.h"

SimulatorProcess::SimulatorProcess(const QStringList &arguments)
{
    process.start(QStringLiteral(KESTRANE_SIM_PATH), QStringList{"--verbose"} + arguments);
    while (process.waitForReadyRead(5000) && !process.canReadLine()) {
    }
    path = QString::fromLocal8Bit(process.readLine()).trimmed();
}

SimulatorProcess::~SimulatorProcess()
{
    finish();
}

int SimulatorProcess::finish(int signal)
{
    if (process.state() != QProcess::NotRunning) {
        ::kill(pid_t(process.processId()), signal);
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
            return -1;
        }
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QStringList SimulatorProcess::log()
{
    errorOutput += process.readAllStandardError();
    QStringList lines;
    const QString prefix = QStringLiteral("kestrane-sim: ");
    for (const QByteArray &line : errorOutput.split('\n')) {
        if (line.startsWith(prefix.toLatin1()))
            lines.append(QString::fromLocal8Bit(line).mid(prefix.size()));
    }
    return lines;
}

bool SimulatorProcess::waitForLogged(const QString &kind)
{
    process.setReadChannel(QProcess::StandardError);
    auto backToOutput = qScopeGuard([this] { process.setReadChannel(QProcess::StandardOutput); });
    while (logged(kind).isEmpty()) {
        if (!process.waitForReadyRead(5000))
            return false;
    }
    return true;
}

QStringList SimulatorProcess::logged(const QString &kind)
{
    QStringList entries;
    for (const QString &line : log()) {
        if (line.startsWith(kind + u' '))
            entries.append(line.mid(kind.size() + 1));
    }
    return entries;
}
