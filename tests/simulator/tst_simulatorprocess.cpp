#include "device/linksettings.h"
#include "tests/support/pseudoterminal.h"
#include "tests/support/simulatorprocess.h"
#include "tests/support/testfiles.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

namespace {

// What the simulator's device end answers within timeoutMs of the frame.
QByteArray exchange(QSerialPort &port, const QByteArray &frame, int timeoutMs = 200)
{
    port.write(frame);
    port.waitForBytesWritten(1000);
    QByteArray reply;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        port.waitForReadyRead(int(timeoutMs - clock.elapsed()));
        reply += port.readAll();
    }
    return reply;
}

bool openDevice(QSerialPort &port, const SimulatorProcess &simulator)
{
    applyLinkSettings(port, simulator.devicePath());
    return port.open(QIODevice::ReadWrite);
}

// A simulator and a port open on its device end, as the window would have.
struct Session
{
    explicit Session(const QStringList &options) :
        simulator(options)
    {
        opened = openDevice(port, simulator);
    }

    SimulatorProcess simulator;
    QSerialPort port;
    bool opened = false;
};

// Runs the simulator to its end, for arguments it rejects at start.
QProcess *runToEnd(QObject *parent, const QStringList &arguments)
{
    auto *process = new QProcess(parent);
    process->start(QStringLiteral(KESTRANE_SIM_PATH), arguments);
    process->waitForFinished(10000);
    return process;
}

} // namespace

class TestSimulatorProcess : public QObject
{
    Q_OBJECT

private slots:
    void replies_data();
    void replies();
    void badOptions_data();
    void badOptions();
    void malformedStateFile_data();
    void malformedStateFile();
    void stateFileRoundTrip();
    void failedSaveKeepsOldFile();
    void deviceEndSurvivesReopening();
    void servesExistingPort();
    void terminationRemovesLink_data();
    void terminationRemovesLink();
    void hangsUpAfterReplies();
};

void TestSimulatorProcess::replies_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("set frame") << QStringList{} << QByteArray("03091182") << QByteArray("OK\r\n");
    QTest::newRow("save") << QStringList{} << QByteArray("SAV") << QByteArray("OK\r\n");
    QTest::newRow("channel 17") << QStringList{} << QByteArray("17000000") << QByteArray("ERR\r\n");
    QTest::newRow("over the budget")
            << QStringList{} << QByteArray("01256256") << QByteArray("ERR\r\n");
    QTest::newRow("garbage gets nothing")
            << QStringList{} << QByteArray("hello\r\n") << QByteArray();
    QTest::newRow("two frames in one write")
            << QStringList{} << QByteArray("SAV16511000") << QByteArray("OK\r\nOK\r\n");
    QTest::newRow("silent") << QStringList{"--silent"} << QByteArray("SAV") << QByteArray();
    QTest::newRow("noise") << QStringList{"--noise"} << QByteArray("SAV")
                           << QByteArray("\xff\xfe\xc3\x1b[7m\x1b[0mOK\r\n");
    QTest::newRow("split") << QStringList{"--split", "20"} << QByteArray("SAV")
                           << QByteArray("OK\r\n");
    QTest::newRow("delay within the wait")
            << QStringList{"--reply-delay", "50"} << QByteArray("SAV") << QByteArray("OK\r\n");
    QTest::newRow("delay past the wait")
            << QStringList{"--reply-delay", "400"} << QByteArray("SAV") << QByteArray();
}

void TestSimulatorProcess::replies()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, answer);

    Session session(options);
    QVERIFY(session.opened);
    QCOMPARE(exchange(session.port, sent), answer);
    QCOMPARE(session.simulator.finish(), 0);
}

void TestSimulatorProcess::badOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("complaint");

    QTest::newRow("unknown option") << QStringList{"--bogus"} << "bogus";
    QTest::newRow("delay not a number") << QStringList{"--reply-delay", "soon"} << "--reply-delay";
    QTest::newRow("negative split") << QStringList{"--split", "-5"} << "--split";
    QTest::newRow("hang-up count missing") << QStringList{"--hangup-after"} << "hangup-after";
    QTest::newRow("stray argument") << QStringList{"ttyACM0"} << "ttyACM0";
    QTest::newRow("link with device")
            << QStringList{"--link", "/tmp/x", "--device", "/dev/null"} << "--link";
}

void TestSimulatorProcess::badOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, complaint);

    QProcess *simulator = runToEnd(this, arguments);
    QCOMPARE(simulator->exitStatus(), QProcess::NormalExit);
    QCOMPARE(simulator->exitCode(), 2);
    const QString errors = QString::fromLocal8Bit(simulator->readAllStandardError());
    QVERIFY2(errors.contains(complaint) && errors.contains("Usage:"), qPrintable(errors));
    QCOMPARE(simulator->readAllStandardOutput(), QByteArray());
}

void TestSimulatorProcess::malformedStateFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("where");

    QTest::newRow("three fields wanted") << QByteArray("1 0 0\n2 0\n") << ":2: ";
    QTest::newRow("over the budget") << QByteArray("# ok\n\n5 300 212\n") << ":3: ";
    QTest::newRow("channel 17") << QByteArray("17 0 0\n") << ":1: ";
    QTest::newRow("channel twice") << QByteArray("1 0 0\n1 0 0\n") << ":2: ";
}

void TestSimulatorProcess::malformedStateFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, where);

    QTemporaryDir folder;
    const QString path = folder.filePath("state.txt");
    QVERIFY(writeFile(path, content));
    QProcess *simulator = runToEnd(this, {"--state", path});
    QCOMPARE(simulator->exitCode(), 2);
    const QString errors = QString::fromLocal8Bit(simulator->readAllStandardError());
    QVERIFY2(errors.startsWith("kestrane-sim: " + path + where), qPrintable(errors));
    QCOMPARE(readFile(path), content);
}

void TestSimulatorProcess::stateFileRoundTrip()
{
    QTemporaryDir folder;
    const QString path = folder.filePath("state.txt");
    QVERIFY(writeFile(path, "# by hand\n3 91 182\n\n16 511 0 # last\n"));

    Session session({"--state", path});
    QVERIFY(session.opened);
    QCOMPARE(exchange(session.port, "01000511"), "OK\r\n");
    QCOMPARE(exchange(session.port, "01000512"), "ERR\r\n");
    QCOMPARE(exchange(session.port, "SAV"), "OK\r\n");
    QCOMPARE(session.simulator.finish(), 0);

    QByteArray expected = "# Pulse generator state: channel, delay and width in 11 ps steps\n"
                          "1 0 511\n2 0 0\n3 91 182\n";
    for (int channel = 4; channel <= 15; ++channel)
        expected += QByteArray::number(channel) + " 0 0\n";
    expected += "16 511 0\n";
    QCOMPARE(readFile(path), expected);
}

void TestSimulatorProcess::failedSaveKeepsOldFile()
{
    QTemporaryDir folder;
    const QString path = folder.filePath("state.txt");
    const QByteArray old = "2 11 22\n";
    QVERIFY(writeFile(path, old));
    // Even root cannot create files in an immutable folder.
    if (QProcess::execute("chattr", {"+i", folder.path()}) != 0)
        QSKIP("this file system cannot make a folder immutable");
    auto unlock = qScopeGuard([&] { QProcess::execute("chattr", {"-i", folder.path()}); });

    Session session({"--state", path});
    QVERIFY(session.opened);
    QCOMPARE(exchange(session.port, "05000001"), "OK\r\n");
    QCOMPARE(exchange(session.port, "SAV"), "ERR\r\n");
    QCOMPARE(exchange(session.port, "05000002"), "OK\r\n");
    QCOMPARE(session.simulator.finish(), 0);
    QCOMPARE(readFile(path), old);
    QVERIFY(session.simulator.log().filter("cannot save to " + path).size() == 1);
}

void TestSimulatorProcess::deviceEndSurvivesReopening()
{
    SimulatorProcess simulator({});
    for (const QByteArray frame : {"01000091", "02000091", "SAV"}) {
        QSerialPort port;
        QVERIFY(openDevice(port, simulator));
        QCOMPARE(exchange(port, frame), "OK\r\n");
    }
    QCOMPARE(simulator.finish(), 0);
    QCOMPARE(simulator.logged("frame"), QStringList({"01000091", "02000091", "SAV"}));
}

// --device serves a port that exists already; the device end of a
// pseudo-terminal stands in for a USB gadget's serial port.
void TestSimulatorProcess::servesExistingPort()
{
    PseudoTerminal line;
    SimulatorProcess simulator({"--device", line.devicePath()});
    QCOMPARE(simulator.devicePath(), line.devicePath());
    QVERIFY(line.write("03091182"));
    QCOMPARE(line.read(4, 2000), "OK\r\n");
    QCOMPARE(simulator.finish(), 0);
}

void TestSimulatorProcess::terminationRemovesLink_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestSimulatorProcess::terminationRemovesLink()
{
    QFETCH(int, signal);

    QTemporaryDir folder;
    const QString link = folder.filePath("generator");
    SimulatorProcess simulator({"--link", link});
    QVERIFY(simulator.isRunning());
    QCOMPARE(QFileInfo(link).symLinkTarget(), simulator.devicePath());
    QCOMPARE(simulator.finish(signal), 0);
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
}

void TestSimulatorProcess::hangsUpAfterReplies()
{
    QTemporaryDir folder;
    const QString link = folder.filePath("generator");
    Session session({"--hangup-after", "2", "--link", link});
    QVERIFY(session.opened);
    QCOMPARE(exchange(session.port, "SAV"), "OK\r\n");
    QCOMPARE(exchange(session.port, "SAV"), "OK\r\n");
    QCOMPARE(exchange(session.port, "SAV"), QByteArray());
    QCOMPARE(session.simulator.finish(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
    QCOMPARE(session.simulator.logged("frame"), QStringList({"SAV", "SAV"}));
}

QTEST_GUILESS_MAIN(TestSimulatorProcess)
#include "tst_simulatorprocess.moc"
