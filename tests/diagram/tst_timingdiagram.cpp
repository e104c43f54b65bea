#include "diagram/timingdiagram.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QTest>

Q_DECLARE_METATYPE(ChannelTimings)

class TestTimingDiagram : public QObject
{
    Q_OBJECT

private slots:
    void matchesGolden_data();
    void matchesGolden();
};

void TestTimingDiagram::matchesGolden_data()
{
    QTest::addColumn<ChannelTimings>("channels");
    QTest::addColumn<QString>("golden");

    const std::optional<PulseSteps> unknown;
    ChannelTimings edges;
    edges.front() = PulseSteps{0, 511};
    edges[1] = PulseSteps{511, 0};
    edges.back() = PulseSteps{0, 0};
    QTest::newRow("all unknown") << ChannelTimings{} << "unknown.svg";
    QTest::newRow("edges") << edges << "edges.svg";
    // What `kestrane-ctl diagram` makes of tests/cli's mixed profile.
    const ChannelTimings mixed{{PulseSteps{0, 91}, PulseSteps{91, 182}, PulseSteps{255, 256},
                                unknown, unknown, unknown, unknown, PulseSteps{45, 1}, unknown,
                                PulseSteps{364, 147}, unknown, PulseSteps{136, 45}, unknown,
                                unknown, unknown, PulseSteps{273, 91}}};
    QTest::newRow("mixed") << mixed << "mixed.svg";
}

// Byte for byte: the same channels always give the same document. A
// mismatch leaves the new drawing beside the test to look at.
void TestTimingDiagram::matchesGolden()
{
    QFETCH(ChannelTimings, channels);
    QFETCH(QString, golden);

    const QByteArray svg = renderTimingDiagram(channels);
    QVERIFY(!svg.contains("<script") && !svg.contains("href"));
    if (svg != readFile(QDir(KESTRANE_DIAGRAM_GOLDENS).filePath(golden))) {
        QVERIFY(writeFile(golden, svg));
        QFAIL(qPrintable("differs from the golden; drawn now: " + QDir().absoluteFilePath(golden)));
    }
}

QTEST_GUILESS_MAIN(TestTimingDiagram)
#include "tst_timingdiagram.moc"
