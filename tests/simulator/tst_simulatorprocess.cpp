#include "device/linksettings.h"
#include "tests/support/pseudoterminal.h"
#include "tests/support/simulatorprocess.h"
#include "tests/support/testfiles.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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
QProcess *runToEnd(QObject *parent, const QStringList &arguments, uid_t user = ::geteuid(),
                   const QString &program = QStringLiteral(KESTRANE_SIM_PATH))
{
    auto *process = new QProcess(parent);
    process->setChildProcessModifier([user] {
        if (user != ::geteuid() && ::setuid(user) != 0)
            ::_exit(99);
    });
    process->start(program, arguments);
    process->waitForFinished(10000);
    return process;
}

// The device end as a host that writes but does not read would hold it.
int openRaw(const QString &devicePath)
{
    return ::open(QFile::encodeName(devicePath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
}

constexpr uid_t kNobody = 65534;

// Without --verbose, for floods whose log would fill the pipe and stall it;
// returns the device path.
QString startQuietly(QProcess &simulator, const QStringList &arguments)
{
    simulator.start(QStringLiteral(KESTRANE_SIM_PATH), arguments);
    simulator.waitForReadyRead(5000);
    return QString::fromLocal8Bit(simulator.readLine()).trimmed();
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
    void failedSaveKeepsOldFile_data();
    void failedSaveKeepsOldFile();
    void refusedStatePaths_data();
    void refusedStatePaths();
    void saveKeepsOwnerThroughLink();
    void deviceEndSurvivesReopening();
    void servesExistingPort();
    void terminationRemovesLink_data();
    void terminationRemovesLink();
    void hangsUpAfterReplies();
    void leavesOthersFilesAtLink_data();
    void leavesOthersFilesAtLink();
    void floodDoesNotDelayTermination();
    void repliesAreNeverTorn();
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
    QVERIFY2(errors.contains(complaint) && errors.contains("Try 'kestrane-sim --help'."),
             qPrintable(errors));
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
    QTest::newRow("NUL inside a number") << QByteArray("1 0 0\n2 0 1\0"
                                                       "00\n",
                                                       15)
                                         << ":2: ";
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

void TestSimulatorProcess::failedSaveKeepsOldFile_data()
{
    QTest::addColumn<bool>("fullDisk");
    QTest::newRow("immutable folder") << false;
    QTest::newRow("full disk") << true;
}

// A save that fails answers ERR, says why, and costs nothing of the old file.
void TestSimulatorProcess::failedSaveKeepsOldFile()
{
    QFETCH(bool, fullDisk);

    QTemporaryDir folder;
    const QByteArray folderName = QFile::encodeName(folder.path());
    if (fullDisk && ::mount("tmpfs", folderName.constData(), "tmpfs", 0, "size=8k") != 0)
        QSKIP("cannot mount a small tmpfs here (needs root)");
    auto unmount = qScopeGuard([&] {
        if (fullDisk)
            ::umount(folderName.constData());
    });
    const QString path = folder.filePath("state.txt");
    const QByteArray old = "2 11 22\n";
    QVERIFY(writeFile(path, old));
    if (fullDisk)
        writeFile(folder.filePath("filler"), QByteArray(qsizetype{64} * 1024, '#')); // fills it
    // Even root cannot create files in an immutable folder.
    else if (QProcess::execute("chattr", {"+i", folder.path()}) != 0)
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
    QTest::newRow("SIGHUP") << int(SIGHUP);
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

void TestSimulatorProcess::refusedStatePaths_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("complaint");

    QTest::newRow("folder") << "folder"
                            << "not a regular file";
    QTest::newRow("FIFO") << "fifo"
                          << "not a regular file";
    QTest::newRow("device node") << "device"
                                 << "not a regular file";
    QTest::newRow("link to nothing") << "dangling"
                                     << "symbolic link to nothing";
    QTest::newRow("over 1 MiB") << "large"
                                << "larger than 1048576 bytes";
    QTest::newRow("unreadable") << "unreadable"
                                << "Permission denied";
}

// Only an absent or regular file may be a state file; anything else is
// refused at once, before the simulator reads it or ever replaces it.
void TestSimulatorProcess::refusedStatePaths()
{
    QFETCH(QString, kind);
    QFETCH(QString, complaint);

    QTemporaryDir folder;
    QVERIFY(QFile::setPermissions(
            folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                   | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    const QString path = folder.filePath("state");
    uid_t user = ::geteuid();
    QString program = QStringLiteral(KESTRANE_SIM_PATH);
    if (kind == "device" && user != 0)
        QSKIP("making a device node needs root");
    if (kind != "unreadable") {
        QVERIFY(makeUnusableFile(path, kind));
    } else {
        QVERIFY(writeFile(path, "1 0 0\n"));
        QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
        if (user == 0) {
            // Root reads any file. The build tree may lie in a home that
            // nobody cannot enter: nobody runs a copy of the simulator.
            user = kNobody;
            program = folder.filePath("kestrane-sim");
            QVERIFY(QFile::copy(QStringLiteral(KESTRANE_SIM_PATH), program));
            // It keeps root's group: the group's bits apply.
            QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner
                                                           | QFile::ReadGroup | QFile::ExeGroup));
        }
    }

    QProcess *simulator = runToEnd(this, {"--state", path}, user, program);
    const QString errors = QString::fromLocal8Bit(simulator->readAllStandardError());
    QVERIFY2(simulator->exitCode() == 2, qPrintable(errors + simulator->errorString()));
    QVERIFY2(errors.startsWith("kestrane-sim: " + path) && errors.contains(complaint),
             qPrintable(errors));
    QCOMPARE(simulator->readAllStandardOutput(), QByteArray());
}

// Saved through a symbolic link into the file it names, whose owner stays.
void TestSimulatorProcess::saveKeepsOwnerThroughLink()
{
    if (::geteuid() != 0)
        QSKIP("giving a file to another user needs root");
    QTemporaryDir folder;
    const QString target = folder.filePath("state.txt");
    const QString link = folder.filePath("state-link");
    QVERIFY(writeFile(target, "2 11 22\n"));
    QCOMPARE(::chown(QFile::encodeName(target).constData(), kNobody, kNobody), 0);
    QVERIFY(QFile::link(target, link));

    Session session({"--state", link});
    QVERIFY(session.opened);
    QCOMPARE(exchange(session.port, "03091182"), "OK\r\n");
    QCOMPARE(exchange(session.port, "SAV"), "OK\r\n");
    QCOMPARE(session.simulator.finish(), 0);
    QCOMPARE(QFileInfo(link).symLinkTarget(), target);
    QCOMPARE(readFile(target), stateFileAfter({"02011022", "03091182"}));
    struct stat status = {};
    QCOMPARE(::stat(QFile::encodeName(target).constData(), &status), 0);
    QCOMPARE(status.st_uid, kNobody);
    QCOMPARE(status.st_gid, gid_t(kNobody));
}

void TestSimulatorProcess::leavesOthersFilesAtLink_data()
{
    QTest::addColumn<bool>("regularFile");
    QTest::newRow("a user's file") << true;
    QTest::newRow("another program's link") << false;
}

// On exit the link is removed only while it is still this simulator's.
void TestSimulatorProcess::leavesOthersFilesAtLink()
{
    QFETCH(bool, regularFile);

    QTemporaryDir folder;
    const QString link = folder.filePath("generator");
    SimulatorProcess simulator({"--link", link});
    QVERIFY(simulator.isRunning());
    QVERIFY(QFile::remove(link));
    QVERIFY(regularFile ? writeFile(link, "notes\n") : QFile::link("/dev/null", link));
    QCOMPARE(simulator.finish(), 0);
    if (regularFile)
        QCOMPARE(readFile(link), "notes\n");
    else
        QCOMPARE(QFileInfo(link).symLinkTarget(), "/dev/null");
}

// A host that never stops sending must not keep SIGTERM waiting. The time
// to its hang-up is measured, not to its exit, which a sanitizer's checks
// at exit would lengthen.
void TestSimulatorProcess::floodDoesNotDelayTermination()
{
    QProcess simulator;
    const int fd = openRaw(startQuietly(simulator, {}));
    QVERIFY(fd >= 0);
    QElapsedTimer clock;
    clock.start();
    std::atomic<qint64> hungUpMs = -1;
    std::thread host([&] {
        const QByteArray frames = QByteArray("01000000").repeated(512);
        while (clock.elapsed() < 5000) {
            pollfd writable{fd, POLLOUT, 0};
            if (::poll(&writable, 1, 10) == 1
                && ::write(fd, frames.constData(), size_t(frames.size())) < 0 && errno != EAGAIN)
                break;
        }
        hungUpMs = clock.elapsed();
    });
    QThread::msleep(300);
    const qint64 signalledMs = clock.elapsed();
    ::kill(pid_t(simulator.processId()), SIGTERM);
    const bool ended = simulator.waitForFinished(3000);
    host.join();
    ::close(fd);
    QVERIFY(ended);
    QCOMPARE(simulator.exitCode(), 0);
    const qint64 reactionMs = hungUpMs - signalledMs;
    QVERIFY2(reactionMs < 100, qPrintable(QStringLiteral("hung up after %1 ms").arg(reactionMs)));
}

// A host that stops reading gets whole replies or none, as from a device
// whose output buffer is full.
void TestSimulatorProcess::repliesAreNeverTorn()
{
    QProcess simulator;
    const int fd = openRaw(startQuietly(simulator, {"--noise"}));
    QVERIFY(fd >= 0);
    auto closeFd = qScopeGuard([fd] { ::close(fd); });
    constexpr int kFrames = 20000;
    const QByteArray frames = QByteArray("SAV").repeated(kFrames);
    for (qsizetype done = 0; done < frames.size();) {
        pollfd writable{fd, POLLOUT, 0};
        QVERIFY(::poll(&writable, 1, 2000) == 1);
        const ssize_t count = ::write(fd, frames.constData() + done, size_t(frames.size() - done));
        QVERIFY(count > 0 || errno == EAGAIN);
        done += std::max<ssize_t>(count, 0);
    }
    QByteArray replies;
    pollfd readable{fd, POLLIN, 0};
    char chunk[4096];
    while (::poll(&readable, 1, 300) == 1) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count <= 0)
            break;
        replies.append(chunk, count);
    }
    const QByteArray reply = "\xff\xfe\xc3\x1b[7m\x1b[0mOK\r\n";
    QVERIFY(replies.size() > 0 && replies.size() < kFrames * reply.size());
    QCOMPARE(replies, reply.repeated(replies.size() / reply.size()));
    ::kill(pid_t(simulator.processId()), SIGTERM);
    QVERIFY(simulator.waitForFinished(5000));
    QCOMPARE(simulator.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestSimulatorProcess)
#include "tst_simulatorprocess.moc"
