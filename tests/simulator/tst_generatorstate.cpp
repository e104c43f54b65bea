#include "simulator/generatorstate.h"

#include <QTemporaryDir>
#include <QTest>

class TestGeneratorState : public QObject
{
    Q_OBJECT

private slots:
    void applySetFrame_data();
    void applySetFrame();
    void fromText_data();
    void fromText();
    void textRoundTrip();
    void saveReplacesWholeFile();
    void saveFailsWithoutFolder();
};

void TestGeneratorState::applySetFrame_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("applied");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("delaySteps");
    QTest::addColumn<int>("widthSteps");

    QTest::newRow("channel 3") << QByteArray("03091182") << true << 3 << 91 << 182;
    QTest::newRow("channel 16, full delay") << QByteArray("16511000") << true << 16 << 511 << 0;
    QTest::newRow("channel 1, full width") << QByteArray("01000511") << true << 1 << 0 << 511;
    QTest::newRow("exactly the budget") << QByteArray("05255256") << true << 5 << 255 << 256;
    QTest::newRow("one step over the budget") << QByteArray("05256256") << false << 5 << 0 << 0;
    QTest::newRow("delay alone over the budget") << QByteArray("05999000") << false << 5 << 0 << 0;
    QTest::newRow("channel 0") << QByteArray("00000001") << false << 1 << 0 << 0;
    QTest::newRow("channel 17") << QByteArray("17000001") << false << 16 << 0 << 0;
    QTest::newRow("not digits") << QByteArray("0a000001") << false << 1 << 0 << 0;
    QTest::newRow("short") << QByteArray("0100001") << false << 1 << 0 << 0;
}

void TestGeneratorState::applySetFrame()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, applied);
    QFETCH(int, channel);
    QFETCH(int, delaySteps);
    QFETCH(int, widthSteps);

    GeneratorState state;
    QCOMPARE(state.applySetFrame(frame), applied);
    QCOMPARE(state.channel(channel).delaySteps, delaySteps);
    QCOMPARE(state.channel(channel).widthSteps, widthSteps);
}

void TestGeneratorState::fromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("errorLine");
    QTest::addColumn<int>("channel3Delay");

    QTest::newRow("empty") << "" << 0 << 0;
    QTest::newRow("comments and blanks") << "# saved\n\n3 91 182  # channel 3\n" << 0 << 91;
    QTest::newRow("over the budget") << "1 0 0\n3 300 212\n" << 2 << 0;
    QTest::newRow("delay over 511") << "3 512 0\n" << 1 << 0;
    QTest::newRow("malformed") << "1 0 0\n2 0\n" << 2 << 0;
    QTest::newRow("channel twice") << "3 1 1\n3 2 2\n" << 2 << 0;
}

void TestGeneratorState::fromText()
{
    QFETCH(QString, text);
    QFETCH(int, errorLine);
    QFETCH(int, channel3Delay);

    const Result<GeneratorState> state = GeneratorState::fromText("state.txt", text);
    QCOMPARE(state.ok(), errorLine == 0);
    if (state)
        QCOMPARE(state->channel(3).delaySteps, channel3Delay);
    else
        QVERIFY2(state.error().startsWith(QStringLiteral("state.txt:%1: ").arg(errorLine)),
                 qPrintable(state.error()));
}

void TestGeneratorState::textRoundTrip()
{
    GeneratorState state;
    QVERIFY(state.applySetFrame("01000511"));
    QVERIFY(state.applySetFrame("16511000"));
    const QByteArray text = state.toText();
    QVERIFY(text.contains("\n1 0 511\n"));
    QVERIFY(text.endsWith("\n16 511 0\n"));
    QCOMPARE(text.count('\n'), 17);

    const Result<GeneratorState> read
            = GeneratorState::fromText("state.txt", QString::fromUtf8(text));
    QVERIFY2(read, qPrintable(read.error()));
    QCOMPARE(read->toText(), text);
}

void TestGeneratorState::saveReplacesWholeFile()
{
    QTemporaryDir folder;
    const QString path = folder.filePath("state");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(4096, '#'));
    old.close();

    GeneratorState state;
    QVERIFY(state.applySetFrame("02001002"));
    const Result<void> saved = state.save(path);
    QVERIFY2(saved, qPrintable(saved.error()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), state.toText());
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{"state"});
}

void TestGeneratorState::saveFailsWithoutFolder()
{
    QTemporaryDir folder;
    const Result<void> saved = GeneratorState().save(folder.filePath("gone/state"));
    QVERIFY(!saved);
    QVERIFY(!saved.error().isEmpty());
}

QTEST_APPLESS_MAIN(TestGeneratorState)
#include "tst_generatorstate.moc"
