#include "app/dialog.h"
#include "device/linksettings.h"
#include "tests/support/logcapture.h"
#include "tests/support/pseudoterminal.h"
#include "tests/support/simulatorprocess.h"
#include "tests/support/testfiles.h"
#include "tests/support/windowdriver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The real window against kestrane-sim, a whole generator in a child
// process, clicked as a user would.
class TestWindowSimulator : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void wholeSession();
    void silentDevice();
    void lateReplyLeadsNextAnswer();
    void replySplitOverExchanges();
    void greetingLeadsFirstAnswer();
    void noiseStaysOnOneLine();
    void hangUpLeavesWindowUsable();
    void nothingLost();

private:
    std::unique_ptr<Dialog> connectTo(const SimulatorProcess &simulator);
    QStringList answers();

    std::unique_ptr<LogCapture> log;
};

void TestWindowSimulator::init()
{
    log = std::make_unique<LogCapture>();
}

void TestWindowSimulator::cleanup()
{
    log.reset();
}

std::unique_ptr<Dialog> TestWindowSimulator::connectTo(const SimulatorProcess &simulator)
{
    const QString path = simulator.devicePath();
    auto dialog = std::make_unique<Dialog>([path] { return QList{generatorAt(path)}; });
    dialog->show();
    click(*dialog, "pbConnect");
    if (enabledWidgets(*dialog) != connectedEnabled)
        qWarning("the window did not connect to %s", qPrintable(simulator.devicePath()));
    log->takeLines();
    return dialog;
}

// The replies logged so far, as they stand between the quotes.
QStringList TestWindowSimulator::answers()
{
    QStringList replies;
    for (const QString &line : log->takeLines()) {
        if (line.startsWith("answer:"))
            replies.append(quotedReply(line));
    }
    return replies;
}

void TestWindowSimulator::wholeSession()
{
    QTemporaryDir folder;
    const QString statePath = folder.filePath("state.txt");
    SimulatorProcess simulator({"--state", statePath});
    QVERIFY(simulator.isRunning());
    auto dialog = connectTo(simulator);

    enterPulse(*dialog, 1, 0, 5621);
    click(*dialog, "pbSet");
    enterPulse(*dialog, 16, 5616, 3000);
    click(*dialog, "pbSet");
    QCOMPARE(fieldValue(*dialog, "sbDelay"), 5621);
    QCOMPARE(fieldValue(*dialog, "sbPulseWidth"), 0);
    enterPulse(*dialog, 8, 2800, 3000);
    click(*dialog, "pbSet");
    click(*dialog, "pbSave");

    QCOMPARE(log->takeLines(), QStringList({"string result \"01000511\"", answerLine(R"(OK\r\n)"),
                                            "string result \"16511000\"", answerLine(R"(OK\r\n)"),
                                            "string result \"08255256\"", answerLine(R"(OK\r\n)"),
                                            answerLine(R"(OK\r\n)")}));
    QCOMPARE(simulator.finish(), 0);
    QCOMPARE(simulator.logged("frame"), QStringList({"01000511", "16511000", "08255256", "SAV"}));
    QCOMPARE(readFile(statePath), stateFileAfter({"01000511", "16511000", "08255256"}));
}

void TestWindowSimulator::silentDevice()
{
    SimulatorProcess simulator({"--silent"});
    auto dialog = connectTo(simulator);

    for (const char *button : {"pbSet", "pbSave"}) {
        QElapsedTimer clock;
        clock.start();
        click(*dialog, button);
        const qint64 elapsedMs = clock.elapsed();
        QVERIFY2(elapsedMs >= 95 && elapsedMs < 180, qPrintable(QString::number(elapsedMs)));
    }
    QCOMPARE(answers(), QStringList({"", ""}));
    QCOMPARE(simulator.finish(), 0);
    QCOMPARE(simulator.logged("frame"), QStringList({"01000091", "SAV"}));
}

void TestWindowSimulator::lateReplyLeadsNextAnswer()
{
    // Saving into a folder that does not exist fails, so "SAV" is answered
    // "ERR" and can be told apart from the "OK" of a set frame.
    QTemporaryDir folder;
    SimulatorProcess simulator({"--reply-delay", "150", "--state", folder.filePath("gone/state")});
    auto dialog = connectTo(simulator);

    click(*dialog, "pbSave"); // gives up at 100 ms; its ERR comes at 150 ms
    click(*dialog, "pbSet");  // takes that ERR; its own OK comes at 250 ms
    QTest::qWait(50);
    click(*dialog, "pbSet"); // from 200 ms, takes that OK
    QCOMPARE(answers(), QStringList({"", R"(ERR\r\n)", R"(OK\r\n)"}));
}

void TestWindowSimulator::replySplitOverExchanges()
{
    SimulatorProcess simulator({"--split", "150"});
    auto dialog = connectTo(simulator);

    click(*dialog, "pbSave");
    QTest::qWait(250);
    click(*dialog, "pbSave");
    QCOMPARE(answers(), QStringList({"OK", R"(\r\nOK)"}));
}

// Whether the serial library keeps bytes that arrived before the port was
// opened; newer Qt releases discard them when opening.
static bool libraryKeepsInputOnOpen()
{
    PseudoTerminal device;
    device.write("early");
    QSerialPort port;
    applyLinkSettings(port, device.devicePath());
    if (!port.open(QIODevice::ReadWrite))
        return false;
    port.waitForReadyRead(100);
    return port.readAll() == "early";
}

void TestWindowSimulator::greetingLeadsFirstAnswer()
{
    SimulatorProcess simulator({"--greeting", "Pulse generator v2"});
    QVERIFY(simulator.waitForLogged("greeting")); // in the line before Connect
    auto dialog = connectTo(simulator);

    click(*dialog, "pbSave");
    const QStringList replies = answers();
    QCOMPARE(replies.size(), 1);
    // Connect itself clears nothing: what the library kept leads the answer.
    if (libraryKeepsInputOnOpen())
        QVERIFY2(replies.first().startsWith("Pulse generator v2"), qPrintable(replies.first()));
    else
        QCOMPARE(replies.first(), R"(OK\r\n)");
}

void TestWindowSimulator::noiseStaysOnOneLine()
{
    SimulatorProcess simulator({"--noise"});
    auto dialog = connectTo(simulator);

    click(*dialog, "pbSave");
    const QStringList lines = log->takeLines();
    QCOMPARE(lines.size(), 1);
    const QString &line = lines.first();
    for (const QChar character : line)
        QVERIFY2(character.unicode() >= 0x20 && character.unicode() != 0x7f, qPrintable(line));
    QCOMPARE(line, answerLine("\uFFFD\uFFFD\uFFFD"
                              R"(\u001B[7m\u001B[0mOK\r\n)"));
}

void TestWindowSimulator::hangUpLeavesWindowUsable()
{
    SimulatorProcess simulator({"--hangup-after", "1"});
    auto dialog = connectTo(simulator);

    click(*dialog, "pbSet");
    QCOMPARE(simulator.finish(), 0);
    click(*dialog, "pbSave");
    click(*dialog, "pbSet");
    QCOMPARE(log->takeLines(),
             QStringList({"string result \"01000091\"", answerLine(R"(OK\r\n)"), answerLine(""),
                          "string result \"01000091\"", answerLine("")}));
    QCOMPARE(enabledWidgets(*dialog), connectedEnabled);

    QTimer::singleShot(0, dialog.get(), &QWidget::close);
    QCOMPARE(QApplication::exec(), 0);
}

void TestWindowSimulator::nothingLost()
{
    SimulatorProcess simulator({"--reply-delay", "70", "--split", "60"});
    auto dialog = connectTo(simulator);

    const int presses = 7;
    for (int press = 0; press < presses; ++press) {
        enterPulse(*dialog, press + 1, press * 100, 1000);
        click(*dialog, press % 3 == 2 ? "pbSave" : "pbSet");
    }
    // Let every reply arrive, then hang up so that the last press adds none.
    QTest::qWait(400);
    QCOMPARE(simulator.finish(), 0);
    click(*dialog, "pbSave");

    QCOMPARE(answers().join(QString()), QString(R"(OK\r\n)").repeated(presses));
    QCOMPARE(simulator.logged("reply"), QStringList(presses, R"(OK\r\n)"));
}

QTEST_MAIN(TestWindowSimulator)
#include "tst_windowsimulator.moc"
