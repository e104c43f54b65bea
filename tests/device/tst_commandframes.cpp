#include "device/commandframes.h"

#include <QTest>

class TestCommandFrames : public QObject
{
    Q_OBJECT

private slots:
    void buildSetCommand_data();
    void buildSetCommand();
    void saveCommandIsThreeBytes();
};

void TestCommandFrames::buildSetCommand_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("delaySteps");
    QTest::addColumn<int>("widthSteps");
    QTest::addColumn<QByteArray>("command");

    QTest::newRow("channel 3, 91 and 182 steps") << 3 << 91 << 182 << QByteArray("03091182");
    QTest::newRow("channel 16, full delay") << 16 << 511 << 0 << QByteArray("16511000");
    QTest::newRow("channel 1, all zero") << 1 << 0 << 0 << QByteArray("01000000");
    QTest::newRow("channel 10, full width") << 10 << 0 << 511 << QByteArray("10000511");
    QTest::newRow("overlong channel is written whole") << 123 << 1 << 2 << QByteArray("123001002");
    QTest::newRow("overlong delay is written whole") << 1 << 1234 << 0 << QByteArray("011234000");
}

void TestCommandFrames::buildSetCommand()
{
    QFETCH(int, channel);
    QFETCH(int, delaySteps);
    QFETCH(int, widthSteps);
    QFETCH(QByteArray, command);
    QCOMPARE(::buildSetCommand(channel, delaySteps, widthSteps), command);
}

void TestCommandFrames::saveCommandIsThreeBytes()
{
    QCOMPARE(kSaveCommand, QByteArray("\x53\x41\x56"));
}

QTEST_APPLESS_MAIN(TestCommandFrames)
#include "tst_commandframes.moc"
