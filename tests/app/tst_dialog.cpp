#include "app/commandline.h"
#include "app/dialog.h"
#include "device/linksettings.h"
#include "tests/support/logcapture.h"
#include "tests/support/pseudoterminal.h"
#include "tests/support/setcases.h"
#include "tests/support/windowdriver.h"

#include <QCommandLineParser>
#include <QComboBox>
#include <QElapsedTimer>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <future>

namespace {

// Clicks `button` while the device takes the frame and answers it at once.
QByteArray clickAnswered(const Dialog &dialog, const char *button, PseudoTerminal &device,
                         int frameSize, const QByteArray &reply)
{
    auto frame = std::async(std::launch::async, [&] {
        QByteArray received = device.read(frameSize, 2000);
        device.write(reply);
        return received;
    });
    click(dialog, button);
    return frame.get();
}

} // namespace

class TestDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void formAtStart();
    void states_data();
    void states();
    void updateMovesBetweenStates();
    void connectOpensCurrentEntry();
    void connectedIsFinal();
    void set_data();
    void set();
    void setTwiceSendsTheSameFrame();
    void save();
    void silentDevice_data();
    void silentDevice();
    void lateReplyLeadsNextAnswer();
    void inputIsNotClearedAfterConnect();
    void repliesAreLoggedEscaped_data();
    void repliesAreLoggedEscaped();
    void hungUpDevice();
    void floodIsBounded();
    void namedPorts_data();
    void namedPorts();
    void namedPortConnects();
    void commandLine_data();
    void commandLine();

private:
    void connect(Dialog &dialog);

    QList<PortDescription> ports;
    std::unique_ptr<PseudoTerminal> device;
    std::unique_ptr<LogCapture> log;
};

void TestDialog::init()
{
    device = std::make_unique<PseudoTerminal>();
    QVERIFY(device->isValid());
    ports = {generatorAt(device->devicePath())};
    log = std::make_unique<LogCapture>();
}

void TestDialog::cleanup()
{
    log.reset();
    device.reset();
}

void TestDialog::connect(Dialog &dialog)
{
    click(dialog, "pbConnect");
    QCOMPARE(enabledWidgets(dialog), connectedEnabled);
    log->takeLines();
}

void TestDialog::formAtStart()
{
    QIcon::setThemeName(QStringLiteral("kestrane-test-theme-without-icons"));
    ports.clear();
    Dialog dialog([this] { return ports; });

    QCOMPARE(dialog.objectName(), "Dialog");
    QCOMPARE(dialog.windowTitle(), "Kestrane");
    QCOMPARE(dialog.size(), QSize(462, 131));
    QVERIFY(dialog.windowIcon().isNull());
    QCOMPARE(child<QLabel>(dialog, "lPort")->text(), "Port:");
    QCOMPARE(child<QPushButton>(dialog, "pbConnect")->text(), "Connect");
    QCOMPARE(child<QPushButton>(dialog, "pbUpdate")->text(), "Update");
    QCOMPARE(child<QLabel>(dialog, "lChannel")->text(), "Channel");
    QCOMPARE(child<QLabel>(dialog, "lDelay")->text(), "Delay (ps):");
    QCOMPARE(child<QLabel>(dialog, "lWidth")->text(), "Width (ps):");
    QCOMPARE(child<QPushButton>(dialog, "pbSet")->text(), "Set");
    QCOMPARE(child<QPushButton>(dialog, "pbSave")->text(), "Save");
    QCOMPARE(child<QPushButton>(dialog, "pbSave")->maximumWidth(), 200);

    const auto *channel = child<QSpinBox>(dialog, "sbChannel");
    const auto *delay = child<QSpinBox>(dialog, "sbDelay");
    const auto *width = child<QSpinBox>(dialog, "sbPulseWidth");
    QCOMPARE(QList<int>({channel->minimum(), channel->maximum(), channel->value()}),
             QList<int>({1, 16, 1}));
    QCOMPARE(QList<int>({delay->minimum(), delay->maximum(), delay->singleStep(), delay->value()}),
             QList<int>({0, 5621, 10, 0}));
    QCOMPARE(QList<int>({width->minimum(), width->maximum(), width->singleStep(), width->value()}),
             QList<int>({0, 5621, 10, 1000}));

    // Discovery ran in the constructor, before the window was shown.
    QVERIFY(!dialog.isVisible());
    QCOMPARE(log->takeLines(), QStringList{"Update device list"});
}

void TestDialog::states_data()
{
    QTest::addColumn<int>("generators");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QStringList>("enabled");

    QTest::newRow("no device") << 0 << false << noDeviceEnabled;
    QTest::newRow("device found") << 1 << false << deviceFoundEnabled;
    QTest::newRow("connected") << 1 << true << connectedEnabled;
}

void TestDialog::states()
{
    QFETCH(int, generators);
    QFETCH(bool, connected);
    QFETCH(QStringList, enabled);

    ports = ports.mid(0, generators);
    Dialog dialog([this] { return ports; });
    dialog.show();
    if (connected)
        click(dialog, "pbConnect");
    QCOMPARE(enabledWidgets(dialog), enabled);
}

void TestDialog::updateMovesBetweenStates()
{
    const QList<PortDescription> others{{"ttyS0", "/dev/ttyS0", 0, 0},
                                        {"ttyUSB0", "/dev/ttyUSB0", 0x0403, 0x6001}};
    ports = others;
    Dialog dialog([this] { return ports; });
    dialog.show();
    QCOMPARE(enabledWidgets(dialog), noDeviceEnabled);
    QCOMPARE(log->takeLines(), QStringList{"Update device list"});

    ports = others + QList<PortDescription>{generatorAt("ttyACM1"), generatorAt("ttyACM0")};
    click(dialog, "pbUpdate");
    QCOMPARE(enabledWidgets(dialog), deviceFoundEnabled);
    QCOMPARE(log->takeLines(), QStringList({"Update device list", "\"ttyACM1\"", "\"ttyACM0\""}));
    const auto *list = child<QComboBox>(dialog, "cbPortList");
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->currentText(), "ttyACM1");

    // The list is rebuilt, not merged: a vanished port drops out.
    ports = {generatorAt("ttyACM0")};
    click(dialog, "pbUpdate");
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->itemText(0), "ttyACM0");

    ports = others;
    click(dialog, "pbUpdate");
    QCOMPARE(enabledWidgets(dialog), noDeviceEnabled);
    QCOMPARE(list->count(), 0);
    // Every line goes to the default category, which the default handler prints bare.
    QCOMPARE(log->categories(), QStringList(3, "default"));
    QCOMPARE(log->takeLines(),
             QStringList({"Update device list", "\"ttyACM0\"", "Update device list"}));
}

void TestDialog::connectOpensCurrentEntry()
{
    PseudoTerminal second;
    QVERIFY(second.isValid());
    ports.append(generatorAt(second.devicePath()));
    Dialog dialog([this] { return ports; });
    dialog.show();
    child<QComboBox>(dialog, "cbPortList")->setCurrentIndex(1);
    connect(dialog);

    click(dialog, "pbSave");
    QCOMPARE(second.readPending(), "SAV");
    QCOMPARE(device->readPending(), QByteArray());
}

void TestDialog::connectedIsFinal()
{
    Dialog dialog([this] { return ports; });
    dialog.show();
    connect(dialog);

    for (const char *button : {"pbUpdate", "pbConnect", "pbSet", "pbSave"})
        click(dialog, button);
    QTest::keyClick(&dialog, Qt::Key_Return);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QCOMPARE(enabledWidgets(dialog), connectedEnabled);
    QVERIFY(!log->takeLines().contains("Update device list"));
}

void TestDialog::set_data()
{
    addSetCaseRows();
}

void TestDialog::set()
{
    QFETCH(int, channel);
    QFETCH(int, delayPs);
    QFETCH(int, widthPs);
    QFETCH(int, appliedDelayPs);
    QFETCH(int, appliedWidthPs);
    QFETCH(QByteArray, frame);

    Dialog dialog([this] { return ports; });
    dialog.show();
    connect(dialog);
    enterPulse(dialog, channel, delayPs, widthPs);

    QCOMPARE(clickAnswered(dialog, "pbSet", *device, 8, "OK\r\n"), frame);
    QCOMPARE(device->readPending(), QByteArray());
    QCOMPARE(child<QSpinBox>(dialog, "sbDelay")->value(), appliedDelayPs);
    QCOMPARE(child<QSpinBox>(dialog, "sbPulseWidth")->value(), appliedWidthPs);
    QCOMPARE(child<QSpinBox>(dialog, "sbChannel")->value(), channel);
    const QString resultLine = QStringLiteral("string result \"%1\"").arg(QLatin1String(frame));
    QCOMPARE(log->takeLines(), QStringList({resultLine, answerLine(R"(OK\r\n)")}));
}

void TestDialog::setTwiceSendsTheSameFrame()
{
    Dialog dialog([this] { return ports; });
    dialog.show();
    connect(dialog);
    enterPulse(dialog, 7, 1234, 4321);

    click(dialog, "pbSet");
    click(dialog, "pbSet");
    QCOMPARE(device->readPending(), "07112393"
                                    "07112393");
    QCOMPARE(log->takeLines(), QStringList({"string result \"07112393\"", answerLine(""),
                                            "string result \"07112393\"", answerLine("")}));
}

void TestDialog::save()
{
    Dialog dialog([this] { return ports; });
    dialog.show();
    connect(dialog);
    enterPulse(dialog, 5, 1000, 1000);

    QCOMPARE(clickAnswered(dialog, "pbSave", *device, 3, "OK\r\n"), "SAV");
    QCOMPARE(clickAnswered(dialog, "pbSave", *device, 3, "DONE"), "SAV");
    QCOMPARE(device->readPending(), QByteArray());
    QCOMPARE(log->takeLines(), QStringList({answerLine(R"(OK\r\n)"), answerLine("DONE")}));
    // Save neither reads nor rounds the fields.
    QCOMPARE(child<QSpinBox>(dialog, "sbDelay")->value(), 1000);
    QCOMPARE(child<QSpinBox>(dialog, "sbPulseWidth")->value(), 1000);
}

void TestDialog::silentDevice_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::newRow("Set") << QByteArray("pbSet");
    QTest::newRow("Save") << QByteArray("pbSave");
}

void TestDialog::silentDevice()
{
    QFETCH(QByteArray, button);

    Dialog dialog([this] { return ports; });
    dialog.show();
    connect(dialog);

    QElapsedTimer clock;
    clock.start();
    click(dialog, button.constData());
    const qint64 elapsedMs = clock.elapsed();

    // The write goes out at once; only the wait for a reply runs its course.
    QVERIFY2(elapsedMs >= 95 && elapsedMs < 180, qPrintable(QString::number(elapsedMs)));
    QCOMPARE(log->takeLines().constLast(), answerLine(""));
}

void TestDialog::lateReplyLeadsNextAnswer()
{
    Dialog dialog([this] { return ports; });
    dialog.show();
    connect(dialog);

    click(dialog, "pbSave");
    device->write("LATE\r\n");
    click(dialog, "pbSave");
    QCOMPARE(device->readPending(), "SAVSAV");
    QCOMPARE(log->takeLines(), QStringList({answerLine(""), answerLine(R"(LATE\r\n)")}));
}

void TestDialog::inputIsNotClearedAfterConnect()
{
    Dialog dialog([this] { return ports; });
    dialog.show();
    connect(dialog);

    device->write("ready\r\n");
    click(dialog, "pbSave");
    QCOMPARE(device->readPending(), "SAV");
    QCOMPARE(log->takeLines(), QStringList{answerLine(R"(ready\r\n)")});
}

void TestDialog::repliesAreLoggedEscaped_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("line");

    QTest::newRow("CR LF") << QByteArray("OK\r\n") << answerLine(R"(OK\r\n)");
    QTest::newRow("invalid UTF-8") << QByteArray("\xff\xfeOK") << answerLine("\uFFFD\uFFFDOK");
    QTest::newRow("valid UTF-8") << QByteArray("\xc2\xb5s") << answerLine("\u00B5s");
    QTest::newRow("terminal escape") << QByteArray("\x1b[2J") << answerLine(R"(\u001B[2J)");
    QTest::newRow("quotes and backslash")
            << QByteArray(R"(a "b" \c)") << answerLine(R"(a \"b\" \\c)");
    QTest::newRow("NUL byte") << QByteArray("A\0B", 3) << answerLine(R"(A\u0000B)");
}

void TestDialog::repliesAreLoggedEscaped()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, line);

    Dialog dialog([this] { return ports; });
    dialog.show();
    connect(dialog);

    QCOMPARE(clickAnswered(dialog, "pbSave", *device, 3, reply), "SAV");
    QCOMPARE(log->takeLines(), QStringList{line});
}

void TestDialog::hungUpDevice()
{
    Dialog dialog([this] { return ports; });
    dialog.show();
    connect(dialog);

    device->hangUp();
    enterPulse(dialog, 2, 11, 22);
    click(dialog, "pbSet");
    click(dialog, "pbSave");
    click(dialog, "pbSet");
    QCOMPARE(log->takeLines(),
             QStringList({"string result \"02001002\"", answerLine(""), answerLine(""),
                          "string result \"02001002\"", answerLine("")}));
    QCOMPARE(enabledWidgets(dialog), connectedEnabled);
    dialog.close();
}

// A device that never stops talking while the window sits connected and idle.
void TestDialog::floodIsBounded()
{
    Dialog dialog([this] { return ports; });
    dialog.show();
    connect(dialog);

    constexpr qsizetype kFloodBytes = qsizetype{4} * 1024 * 1024;
    const QByteArray chunk(4096, 'x');
    qsizetype sent = 0;
    QElapsedTimer clock;
    clock.start();
    while (sent < kFloodBytes && clock.elapsed() < 2000) {
        sent += device->writeAvailable(chunk);
        QCoreApplication::processEvents();
    }
    QVERIFY2(sent < kFloodBytes / 4, qPrintable(QString::number(sent)));

    click(dialog, "pbSave");
    const QStringList lines = log->takeLines();
    QCOMPARE(lines.size(), 1);
    const QString reply = quotedReply(lines.first());
    QVERIFY(reply.startsWith("xxx"));
    QVERIFY2(reply.size() <= kReadBufferBytes, qPrintable(QString::number(reply.size())));
}

// Ports named on the command line follow the generators found, whatever
// they are, on every discovery, and are logged like them.
void TestDialog::namedPorts_data()
{
    QTest::addColumn<int>("generators");
    QTest::addColumn<QStringList>("named");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QStringList>("enabled");

    QTest::newRow("none named") << 1 << QStringList() << QStringList{"ttyACM0"}
                                << deviceFoundEnabled;
    QTest::newRow("named only") << 0 << QStringList{"/tmp/gen"} << QStringList{"/tmp/gen"}
                                << deviceFoundEnabled;
    QTest::newRow("after the generators")
            << 1 << QStringList{"/dev/serial/by-id/usb-x", "/tmp/gen"}
            << QStringList{"ttyACM0", "/dev/serial/by-id/usb-x", "/tmp/gen"} << deviceFoundEnabled;
    QTest::newRow("nothing at all") << 0 << QStringList() << QStringList() << noDeviceEnabled;
}

void TestDialog::namedPorts()
{
    QFETCH(int, generators);
    QFETCH(QStringList, named);
    QFETCH(QStringList, listed);
    QFETCH(QStringList, enabled);

    ports = QList<PortDescription>{generatorAt("ttyACM0")}.mid(0, generators);
    Dialog dialog([this] { return ports; }, named);
    dialog.show();
    QStringList expectedLog{"Update device list"};
    for (const QString &name : listed)
        expectedLog.append(u'"' + name + u'"');
    for (int discovery = 0; discovery < 2; ++discovery) {
        QCOMPARE(log->takeLines(), expectedLog);
        QCOMPARE(enabledWidgets(dialog), enabled);
        const auto *list = child<QComboBox>(dialog, "cbPortList");
        QStringList shown;
        for (int index = 0; index < list->count(); ++index)
            shown.append(list->itemText(index));
        QCOMPARE(shown, listed);
        click(dialog, "pbUpdate");
    }
}

void TestDialog::namedPortConnects()
{
    Dialog dialog([] { return QList<PortDescription>{}; }, {device->devicePath()});
    dialog.show();
    connect(dialog);
    enterPulse(dialog, 3, 1000, 2000);
    QCOMPARE(clickAnswered(dialog, "pbSet", *device, 8, "OK\r\n"), "03091182");
    QCOMPARE(log->takeLines(), QStringList({"string result \"03091182\"", answerLine("OK\\r\\n")}));
}

void TestDialog::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("named");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("nothing") << QStringList{"kestrane"} << QStringList() << true;
    QTest::newRow("repeated") << QStringList{"kestrane", "--port", "/tmp/a", "--port=/dev/ttyS0"}
                              << QStringList{"/tmp/a", "/dev/ttyS0"} << true;
    QTest::newRow("port without a path")
            << QStringList{"kestrane", "--port"} << QStringList() << false;
    QTest::newRow("unknown option")
            << QStringList{"kestrane", "--baud", "9600"} << QStringList() << false;
    QTest::newRow("stray argument") << QStringList{"kestrane", "ttyACM0"} << QStringList() << false;
}

void TestDialog::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, named);
    QFETCH(bool, accepted);

    QCommandLineParser parser;
    const Result<WindowOptions> result = windowOptionsFromCommandLine(parser, arguments);
    QCOMPARE(result.ok(), accepted);
    if (accepted)
        QCOMPARE(result->namedPorts, named);
    else
        QVERIFY(!result.error().isEmpty());
}

QTEST_MAIN(TestDialog)
#include "tst_dialog.moc"
