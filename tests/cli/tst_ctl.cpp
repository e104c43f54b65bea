#include "tests/support/setcases.h"
#include "tests/support/simulatorprocess.h"
#include "tests/support/testfiles.h"

#include "device/portdiscovery.h"
#include "device/portopening.h"
#include "tests/support/pseudoterminal.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

struct CtlResult
{
    int exitCode = -1;
    QByteArray outputBytes;
    QStringList output; // stdout lines
    QString errors;     // stderr
};

CtlResult runCtl(const QStringList &arguments,
                 const std::function<void(QProcess &)> &prepare = nullptr)
{
    QProcess ctl;
    if (prepare)
        prepare(ctl);
    ctl.start(QStringLiteral(KESTRANE_CTL_PATH), arguments);
    CtlResult result;
    if (!ctl.waitForFinished(20000) || ctl.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = ctl.exitCode();
    result.outputBytes = ctl.readAllStandardOutput();
    result.output = QString::fromLocal8Bit(result.outputBytes).split(u'\n', Qt::SkipEmptyParts);
    result.errors = QString::fromLocal8Bit(ctl.readAllStandardError());
    return result;
}

QString writeProfile(const QTemporaryDir &folder, const QByteArray &content)
{
    QString path = folder.filePath("profile.txt");
    if (!writeFile(path, content))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

} // namespace

class TestCtl : public QObject
{
    Q_OBJECT

private slots:
    void setSendsWhatTheWindowSends_data();
    void setSendsWhatTheWindowSends();
    void save();
    void applyProfile();
    void badProfileSendsNothing_data();
    void badProfileSendsNothing();
    void unreadableProfiles_data();
    void unreadableProfiles();
    void diagramOfBadProfile_data();
    void diagramOfBadProfile();
    void diagramAsApplySetsIt_data();
    void diagramAsApplySetsIt();
    void diagramThatCannotBeWritten_data();
    void diagramThatCannotBeWritten();
    void answersBelongToTheirFrame_data();
    void answersBelongToTheirFrame();
    void outputThatCannotBeWritten_data();
    void outputThatCannotBeWritten();
    void relativePortPath_data();
    void relativePortPath();
    void usageErrors_data();
    void usageErrors();
    void deviceErrors();
    void dryRunOpensNothing();
    void listShowsGenerators();
    void helpExplainsProfiles();
};

void TestCtl::setSendsWhatTheWindowSends_data()
{
    addSetCaseRows();
}

void TestCtl::setSendsWhatTheWindowSends()
{
    QFETCH(int, channel);
    QFETCH(int, delayPs);
    QFETCH(int, widthPs);
    QFETCH(int, appliedDelayPs);
    QFETCH(int, appliedWidthPs);
    QFETCH(QByteArray, frame);
    QFETCH(bool, widthClamped);

    SimulatorProcess simulator({});
    const CtlResult result
            = runCtl({"--port", simulator.devicePath(), "set", QString::number(channel),
                      QString::number(delayPs), QString::number(widthPs)});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.output.size(), 1);
    const QString line = result.output.first();
    QVERIFY2(
            line.startsWith(QStringLiteral("channel=%1 delay_ps=%2 width_ps=%3 applied_delay_ps=%4 "
                                           "applied_width_ps=%5 ")
                                    .arg(channel)
                                    .arg(delayPs)
                                    .arg(widthPs)
                                    .arg(appliedDelayPs)
                                    .arg(appliedWidthPs)),
            qPrintable(line));
    QVERIFY2(line.endsWith(" frame=" + frame + R"( answer="OK\r\n")"), qPrintable(line));
    QCOMPARE(result.errors.startsWith("kestrane-ctl: warning: set: width"), widthClamped);
    QCOMPARE(simulator.finish(), 0);
    QCOMPARE(simulator.logged("frame"), QStringList{QString::fromLatin1(frame)});
}

void TestCtl::save()
{
    SimulatorProcess simulator({"--noise"});
    const CtlResult result = runCtl({"save", "--port", simulator.devicePath()});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.output, QStringList{"frame=SAV answer=\"\uFFFD\uFFFD\uFFFD"
                                        R"(\u001B[7m\u001B[0mOK\r\n")"});
    QCOMPARE(simulator.finish(), 0);
    QCOMPARE(simulator.logged("frame"), QStringList{"SAV"});
}

void TestCtl::applyProfile()
{
    QTemporaryDir folder;
    const QString statePath = folder.filePath("state.txt");
    const QString profile = writeProfile(folder, "# scan start\n"
                                                 "16 5621 0\n"
                                                 "\n"
                                                 "2  1000\t2000   # rounds\n"
                                                 "5 2800 3000\n");
    SimulatorProcess simulator({"--state", statePath});
    const CtlResult result = runCtl({"--port", simulator.devicePath(), "apply", profile, "--save"});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.output.size(), 4);
    QVERIFY(result.output[1].contains("frame=02091182 answer="));
    QCOMPARE(result.output[3], R"(frame=SAV answer="OK\r\n")");
    QCOMPARE(result.errors, "kestrane-ctl: warning: " + profile
                                    + ":5: width 3000 ps cut to 2816 ps: delay plus width may not "
                                      "exceed 511 steps\n");
    QCOMPARE(simulator.finish(), 0);
    QCOMPARE(simulator.logged("frame"), QStringList({"16511000", "02091182", "05255256", "SAV"}));
    QCOMPARE(readFile(statePath), stateFileAfter({"16511000", "02091182", "05255256"}));
}

void TestCtl::badProfileSendsNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("where");

    QTest::newRow("malformed line") << QByteArray("1 0 0\n2 1000\n") << ":2: ";
    QTest::newRow("not a number") << QByteArray("1 0 0\n2 1ns 0\n") << ":2: ";
    QTest::newRow("channel 0") << QByteArray("0 0 0\n") << ":1: ";
    QTest::newRow("channel 17") << QByteArray("# x\n17 0 0\n") << ":2: ";
    QTest::newRow("time over 5621 ps") << QByteArray("1 0 0\n2 5622 0\n") << ":2: ";
    QTest::newRow("negative time") << QByteArray("1 0 -11\n") << ":1: ";
    QTest::newRow("channel twice") << QByteArray("3 0 0\n4 0 0\n3 11 11\n") << ":3: ";
    QTest::newRow("error on the last line") << QByteArray("1 0 0\n2 0 0\n3 0 0 0\n") << ":3: ";
    QTest::newRow("NUL inside a number") << QByteArray("1 0 10\0"
                                                       "00\n",
                                                       10)
                                         << ":1: ";
    QTest::newRow("junk after a NUL") << QByteArray("1 0 1000\0junk\n", 14) << ":1: ";
    QTest::newRow("empty") << QByteArray() << ": no channel to set";
    QTest::newRow("comments only") << QByteArray("# nothing yet\n\n") << ": no channel to set";
}

void TestCtl::badProfileSendsNothing()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, where);

    QTemporaryDir folder;
    const QString profile = writeProfile(folder, content);
    SimulatorProcess simulator({});
    const CtlResult result = runCtl({"--port", simulator.devicePath(), "apply", profile, "--save"});
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.errors.startsWith("kestrane-ctl: " + profile + where),
             qPrintable(result.errors));
    QCOMPARE(result.output, QStringList());
    QCOMPARE(simulator.finish(), 0);
    QCOMPARE(simulator.logged("frame"), QStringList());
    QCOMPARE(simulator.logged("dropped"), QStringList());
}

void TestCtl::unreadableProfiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("complaint");

    QTest::newRow("device") << "/dev/zero"
                            << "not a regular file";
    QTest::newRow("FIFO") << "fifo"
                          << "not a regular file";
    QTest::newRow("folder") << "folder"
                            << "not a regular file";
    QTest::newRow("over 1 MiB of comments") << "large"
                                            << "larger than 1048576 bytes";
}

// Refused at once, before anything is read: no hang, no memory growth.
void TestCtl::unreadableProfiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, complaint);

    QTemporaryDir folder;
    QString path = folder.filePath("profile");
    if (kind.startsWith(u'/'))
        path = kind;
    else
        QVERIFY(makeUnusableFile(path, kind));
    for (const QStringList &command : {QStringList{"--dry-run", "apply"}, QStringList{"diagram"}}) {
        const CtlResult result = runCtl(command + QStringList{path});
        QCOMPARE(result.exitCode, 2);
        QCOMPARE(result.errors, "kestrane-ctl: " + path + ": " + complaint + "\n");
        QCOMPARE(result.output, QStringList());
    }
}

void TestCtl::diagramOfBadProfile_data()
{
    badProfileSendsNothing_data();
}

// Refused as apply refuses it, and no picture is left behind.
void TestCtl::diagramOfBadProfile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, where);

    QTemporaryDir folder;
    const QString profile = writeProfile(folder, content);
    const QString picture = folder.filePath("timing.svg");
    const CtlResult result = runCtl({"diagram", profile, "-o", picture});
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.errors.startsWith("kestrane-ctl: " + profile + where),
             qPrintable(result.errors));
    QVERIFY(!QFileInfo::exists(picture));
}

void TestCtl::diagramAsApplySetsIt_data()
{
    QTest::addColumn<QStringList>("output"); // options; none: stdout
    QTest::addColumn<QByteArray>("before");  // in the output file, if any

    QTest::newRow("stdout") << QStringList{} << QByteArray();
    QTest::newRow("-o new file") << QStringList{"-o", "timing.svg"} << QByteArray();
    QTest::newRow("--output over a file")
            << QStringList{"--output", "timing.svg"} << QByteArray(20000, 'x');
}

// Rounded, the width cut with apply's warning, unnamed channels unknown:
// tests/diagram's golden.
void TestCtl::diagramAsApplySetsIt()
{
    QFETCH(QStringList, output);
    QFETCH(QByteArray, before);

    QTemporaryDir folder;
    const QString profile = writeProfile(folder, "# mixed\n"
                                                 "16 3000 1000\n"
                                                 "1 0 1000\n"
                                                 "2 1000 2000\n"
                                                 "3 2805 3000   # cut\n"
                                                 "8 500 11\n"
                                                 "10 4000 1621\n"
                                                 "12 1500 500\n");
    const QString picture = folder.filePath("timing.svg");
    if (!before.isEmpty())
        QVERIFY(writeFile(picture, before));
    const CtlResult result = runCtl(QStringList{"diagram", profile} + output,
                                    [&](QProcess &ctl) { ctl.setWorkingDirectory(folder.path()); });
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.errors, "kestrane-ctl: warning: " + profile
                                    + ":5: width 3000 ps cut to 2816 ps: delay plus width may not "
                                      "exceed 511 steps\n");
    const QByteArray golden = readFile(QStringLiteral(KESTRANE_DIAGRAM_GOLDENS "/mixed.svg"));
    QCOMPARE(output.isEmpty() ? result.outputBytes : readFile(picture), golden);
    QCOMPARE(result.outputBytes.isEmpty(), !output.isEmpty());
}

void TestCtl::diagramThatCannotBeWritten_data()
{
    QTest::addColumn<QString>("output"); // empty: stdout to /dev/full
    QTest::addColumn<QString>("complaint");

    QTest::newRow("stdout full") << ""
                                 << "cannot write the output: No space left on device";
    QTest::newRow("device full") << "/dev/full"
                                 << "cannot write /dev/full: No space left on device";
    QTest::newRow("no such folder") << "/nonexistent/timing.svg"
                                    << "cannot write /nonexistent/timing.svg: No such file";
    QTest::newRow("a folder") << "/tmp"
                              << "cannot write /tmp: Is a directory";
}

// Exit 1 with the reason; a device is written, never replaced by a file.
void TestCtl::diagramThatCannotBeWritten()
{
    QFETCH(QString, output);
    QFETCH(QString, complaint);

    QTemporaryDir folder;
    const QString profile = writeProfile(folder, "1 0 1000\n");
    const CtlResult result
            = runCtl(output.isEmpty() ? QStringList{"diagram", profile}
                                      : QStringList{"diagram", profile, "-o", output},
                     [&](QProcess &ctl) {
                         if (output.isEmpty())
                             ctl.setStandardOutputFile(QStringLiteral("/dev/full"));
                     });
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.errors.startsWith("kestrane-ctl: " + complaint), qPrintable(result.errors));
    QVERIFY(QFileInfo("/dev/full").exists() && !QFileInfo("/dev/full").isFile());
}

void TestCtl::answersBelongToTheirFrame_data()
{
    QTest::addColumn<QStringList>("device");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("answers"); // printed, in order
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("errors");  // stderr contains this
    QTest::addColumn<int>("framesTaken"); // by the device
    // Newer Qt clears a port's input as it opens it: a greeting that came
    // before is gone, and stderr is rightly empty.
    QTest::addColumn<bool>("mayBeCleared");

    const QString ok = R"("OK\r\n")";
    QTest::newRow("prompt device")
            << QStringList{} << QStringList{} << QStringList(4, ok) << 0 << "" << 4 << false;
    QTest::newRow("late replies") << QStringList{"--reply-delay", "150"} << QStringList{}
                                  << QStringList(4, ok) << 0 << "" << 4 << false;
    QTest::newRow("replies in two parts") << QStringList{"--split", "60"} << QStringList{}
                                          << QStringList(4, ok) << 0 << "" << 4 << false;
    QTest::newRow("greeting reported apart")
            << QStringList{"--greeting", "Kestrane ready\r\n"} << QStringList{}
            << QStringList(4, ok) << 0
            << R"(before frame 1 of 4 (01000091): unrequested bytes "Kestrane ready\r\n")" << 4
            << true;
    QTest::newRow("silent device") << QStringList{"--silent"} << QStringList{"--timeout", "100"}
                                   << QStringList(4, R"("")") << 0 << "" << 4 << false;
    QTest::newRow("reply that never ends")
            << QStringList{"--split", "1000"} << QStringList{"--timeout", "300"}
            << QStringList{R"("OK")"} << 1
            << "frame 1 of 4 (01000091): the reply did not end in a line feed within 300 ms" << 1
            << false;
    QTest::newRow("hang-up mid-profile")
            << QStringList{"--hangup-after", "2"} << QStringList{} << QStringList(2, ok) << 1
            << "kestrane-ctl: frame 3 of 4 (03000091): " << 2 << false;
}

// A script reads answer= as this frame's answer: it must be, and a run
// that did not send everything must not end in success.
void TestCtl::answersBelongToTheirFrame()
{
    QFETCH(QStringList, device);
    QFETCH(QStringList, options);
    QFETCH(QStringList, answers);
    QFETCH(int, exitCode);
    QFETCH(QString, errors);
    QFETCH(int, framesTaken);
    QFETCH(bool, mayBeCleared);

    QTemporaryDir folder;
    const QString profile = writeProfile(folder, "1 0 1000\n2 0 1000\n3 0 1000\n");
    SimulatorProcess simulator(device);
    const CtlResult result = runCtl(
            QStringList{"--port", simulator.devicePath(), "apply", profile, "--save"} + options);
    QCOMPARE(result.exitCode, exitCode);
    QStringList printed;
    for (const QString &line : result.output)
        printed.append(line.section(QStringLiteral(" answer="), 1));
    QCOMPARE(printed, answers);
    if (!(mayBeCleared && result.errors.isEmpty())) {
        QVERIFY2(result.errors.contains(errors), qPrintable(result.errors));
        QCOMPARE(result.errors.isEmpty(), errors.isEmpty());
    }
    QCOMPARE(simulator.finish(), 0);
    QCOMPARE(simulator.logged("frame").size(), framesTaken);
}

void TestCtl::outputThatCannotBeWritten_data()
{
    QTest::addColumn<bool>("dryRun");
    QTest::newRow("dry run") << true;
    QTest::newRow("to the device") << false;
}

// A line a script never got is no success; the run stops at that frame.
void TestCtl::outputThatCannotBeWritten()
{
    QFETCH(bool, dryRun);

    QTemporaryDir folder;
    const QString profile = writeProfile(folder, "1 0 0\n2 0 0\n");
    SimulatorProcess simulator({});
    QStringList arguments{"--port", simulator.devicePath(), "apply", profile};
    if (dryRun)
        arguments.prepend("--dry-run");
    const CtlResult result = runCtl(arguments, [](QProcess &ctl) {
        ctl.setStandardOutputFile(QStringLiteral("/dev/full"));
    });
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.errors, "kestrane-ctl: cannot write the output: No space left on device\n");
    QCOMPARE(simulator.finish(), 0);
    QCOMPARE(simulator.logged("frame"), dryRun ? QStringList() : QStringList{"01000000"});
}

void TestCtl::relativePortPath_data()
{
    QTest::addColumn<QString>("port");
    QTest::newRow("./name") << "./mygen";
    QTest::newRow("plain name") << "mygen";
    QTest::newRow("folder/name") << "lab/mygen";
}

// A port path that exists from the current folder is that path.
void TestCtl::relativePortPath()
{
    QFETCH(QString, port);

    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkdir("lab"));
    SimulatorProcess simulator({});
    QVERIFY(QFile::link(simulator.devicePath(), folder.filePath(port)));
    const CtlResult result = runCtl({"--port", port, "save"},
                                    [&](QProcess &ctl) { ctl.setWorkingDirectory(folder.path()); });
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.output, QStringList{R"(frame=SAV answer="OK\r\n")"});
    QCOMPARE(simulator.finish(), 0);
}

void TestCtl::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("complaint");

    QTest::newRow("no command") << QStringList{} << "a command is needed";
    QTest::newRow("unknown command") << QStringList{"reset"} << "unknown command \"reset\"";
    QTest::newRow("set without width") << QStringList{"set", "1", "0"} << "set takes 3";
    QTest::newRow("channel 17") << QStringList{"set", "17", "0", "0"} << "CHANNEL";
    QTest::newRow("delay over 5621") << QStringList{"set", "1", "5622", "0"} << "DELAY_PS";
    QTest::newRow("width not a number") << QStringList{"set", "1", "0", "1e3"} << "WIDTH_PS";
    QTest::newRow("save with arguments") << QStringList{"save", "now"} << "save takes 0";
    QTest::newRow("--save without apply")
            << QStringList{"save", "--save"} << "--save goes with apply";
    QTest::newRow("unknown option") << QStringList{"--baud", "9600", "save"} << "baud";
    QTest::newRow("missing profile")
            << QStringList{"apply", "/nonexistent/profile.txt"} << "/nonexistent/profile.txt";
    QTest::newRow("timeout not a number")
            << QStringList{"--timeout", "soon", "save"} << "--timeout must be a whole number";
    QTest::newRow("timeout 0") << QStringList{"--timeout", "0", "save"} << "--timeout";
    QTest::newRow("diagram without profile") << QStringList{"diagram"} << "diagram takes 1";
    QTest::newRow("--output without diagram")
            << QStringList{"save", "-o", "x.svg"} << "--output goes with diagram";
    QTest::newRow("empty --output")
            << QStringList{"diagram", "p", "--output", ""} << "--output needs a file name";
}

void TestCtl::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, complaint);

    const CtlResult result = runCtl(arguments);
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.errors.startsWith("kestrane-ctl: ") && result.errors.contains(complaint),
             qPrintable(result.errors));
    QCOMPARE(result.output, QStringList());
}

void TestCtl::deviceErrors()
{
    const CtlResult missing = runCtl({"--port", "/dev/kestrane-no-such-port", "save"});
    QCOMPARE(missing.exitCode, 1);
    QCOMPARE(missing.errors, "kestrane-ctl: cannot open /dev/kestrane-no-such-port: "
                             "No such file or directory\n");

    // Another program drives the generator, opened by another name.
    PseudoTerminal device;
    QTemporaryDir folder;
    const QString otherName = folder.filePath(QStringLiteral("by-id-link"));
    QVERIFY(QFile::link(device.devicePath(), otherName));
    QSerialPort otherProgram;
    QVERIFY(openGeneratorPort(otherProgram, otherName));
    const CtlResult held = runCtl({"--port", device.devicePath(), "save"});
    QCOMPARE(held.exitCode, 1);
    QCOMPARE(held.errors,
             "kestrane-ctl: cannot open " + device.devicePath() + ": in use by another program\n");
    QCOMPARE(device.readPending(), QByteArray());

    // Without --port the tool needs exactly one generator on this machine.
    const qsizetype generators = generatorPorts(systemPorts()).size();
    const CtlResult guessed = runCtl({"save"});
    if (generators == 1)
        QSKIP("a generator is attached to this machine");
    QCOMPARE(guessed.exitCode, 1);
    QVERIFY2(guessed.errors.contains(generators == 0 ? "no generator found" : "generators found"),
             qPrintable(guessed.errors));
}

void TestCtl::dryRunOpensNothing()
{
    QTemporaryDir folder;
    const QString profile = writeProfile(folder, "1 0 1000\n2 5621 1000\n");
    SimulatorProcess simulator({});
    for (const QString &port :
         {simulator.devicePath(), QStringLiteral("/dev/kestrane-no-such-port")}) {
        const CtlResult result = runCtl({"--dry-run", "--port", port, "apply", profile, "--save"});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.output,
                 QStringList({"channel=1 delay_ps=0 width_ps=1000 applied_delay_ps=0 "
                              "applied_width_ps=1001 delay_steps=0 width_steps=91 frame=01000091",
                              "channel=2 delay_ps=5621 width_ps=1000 applied_delay_ps=5621 "
                              "applied_width_ps=0 delay_steps=511 width_steps=0 frame=02511000",
                              "frame=SAV"}));
    }
    QCOMPARE(simulator.finish(), 0);
    QCOMPARE(simulator.logged("frame"), QStringList());
}

void TestCtl::listShowsGenerators()
{
    QStringList expected;
    for (const PortDescription &port : generatorPorts(systemPorts()))
        expected.append(port.portName + u'\t' + port.systemLocation);
    const CtlResult result = runCtl({"list"});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.output, expected);
    QCOMPARE(result.errors, QString());
}

void TestCtl::helpExplainsProfiles()
{
    const CtlResult result = runCtl({"--help"});
    QCOMPARE(result.exitCode, 0);
    const QString help = result.output.join(u'\n');
    for (const char *part : {"apply FILE", "diagram FILE [-o SVG]", "Example:", "16  5621  0",
                             "Exit codes:", "--timeout <ms>", "(default 1000)"})
        QVERIFY2(help.contains(QLatin1String(part)), part);
}

QTEST_GUILESS_MAIN(TestCtl)
#include "tst_ctl.moc"
