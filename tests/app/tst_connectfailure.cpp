#include "device/portopening.h"
#include "tests/support/pseudoterminal.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QSerialPort>
#include <QTest>

// Connect runs in a child process, since a port that does not open ends the
// program.
class TestConnectFailure : public QObject
{
    Q_OBJECT

private slots:
    void connect_data();
    void connect();
};

void TestConnectFailure::connect_data()
{
    QTest::addColumn<bool>("existing");
    QTest::addColumn<QString>("heldAs");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("port gone after discovery") << false << QString() << 1;
    QTest::newRow("port held by another program") << true << QStringLiteral("same name") << 1;
    QTest::newRow("held under another name") << true << QStringLiteral("by-id-link") << 1;
    QTest::newRow("free port, then a normal close") << true << QString() << 0;
}

void TestConnectFailure::connect()
{
    QFETCH(bool, existing);
    QFETCH(QString, heldAs);
    QFETCH(int, exitCode);

    PseudoTerminal device;
    QVERIFY(device.isValid());
    const QString path
            = existing ? device.devicePath() : QStringLiteral("/dev/kestrane-no-such-port");
    // Another Kestrane program, which may name the device otherwise.
    QSerialPort otherProgram;
    QTemporaryDir folder;
    const QString otherName = heldAs == QLatin1String("same name") ? path : folder.filePath(heldAs);
    if (!heldAs.isEmpty()) {
        QVERIFY(otherName == path || QFile::link(path, otherName));
        QVERIFY(openGeneratorPort(otherProgram, otherName));
    }

    QProcess window;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    // Only the program's own lines: no platform warnings, debug output on.
    environment.insert("QT_LOGGING_RULES", "*.warning=false;default.debug=true");
    environment.remove("QT_MESSAGE_PATTERN");
    window.setProcessEnvironment(environment);
    window.start(QStringLiteral(CONNECT_HELPER), {path});
    QVERIFY(window.waitForFinished(30000));

    QByteArray log = "Update device list\n\"" + path.toLocal8Bit() + "\"\n";
    if (exitCode == 1)
        log += "Fatal error: Can't open device\n";
    QCOMPARE(window.exitStatus(), QProcess::NormalExit);
    QCOMPARE(window.exitCode(), exitCode);
    QCOMPARE(window.readAllStandardError(), log);
}

QTEST_GUILESS_MAIN(TestConnectFailure)
#include "tst_connectfailure.moc"
