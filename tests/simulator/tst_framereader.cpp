#include "simulator/framereader.h"

#include <QTest>

namespace {

// One chunk of bytes and the time it arrives.
struct Chunk
{
    qint64 atMs;
    QByteArray bytes;
};
using Chunks = QList<Chunk>;

QStringList describe(const QList<FrameEvent> &events)
{
    QStringList lines;
    for (const FrameEvent &event : events) {
        lines.append(QLatin1String(event.kind == FrameEvent::Frame ? "frame " : "drop ")
                     + QString::fromLatin1(event.bytes));
    }
    return lines;
}

} // namespace

Q_DECLARE_METATYPE(Chunks)

class TestFrameReader : public QObject
{
    Q_OBJECT

private slots:
    void feed_data();
    void feed();
    void idlePartialFrameExpires();
};

void TestFrameReader::feed_data()
{
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<QStringList>("events");

    QTest::newRow("one set frame") << Chunks{{0, "03091182"}} << QStringList{"frame 03091182"};
    QTest::newRow("save") << Chunks{{0, "SAV"}} << QStringList{"frame SAV"};
    QTest::newRow("frames back to back in one chunk")
            << Chunks{{0, "01000091SAV16511000"}}
            << QStringList{"frame 01000091", "frame SAV", "frame 16511000"};
    QTest::newRow("set frame split over chunks")
            << Chunks{{0, "03"}, {10, "091"}, {20, "18"}, {30, "2"}}
            << QStringList{"frame 03091182"};
    QTest::newRow("save split over chunks")
            << Chunks{{0, "S"}, {5, "A"}, {10, "V"}} << QStringList{"frame SAV"};
    QTest::newRow("garbage between frames")
            << Chunks{{0, "xyz01000000\r\n!SAV"}}
            << QStringList{"drop xyz", "frame 01000000", "drop \r\n!", "frame SAV"};
    QTest::newRow("stray S before a set frame")
            << Chunks{{0, "S03091182"}} << QStringList{"drop S", "frame 03091182"};
    QTest::newRow("broken save, then a save")
            << Chunks{{0, "SASAV"}} << QStringList{"drop SA", "frame SAV"};
    QTest::newRow("save cut by a digit starts a set frame")
            << Chunks{{0, "SA16511000"}} << QStringList{"drop SA", "frame 16511000"};
    QTest::newRow("set frame cut by S starts a save")
            << Chunks{{0, "0309SAV"}} << QStringList{"drop 0309", "frame SAV"};
    QTest::newRow("lower-case save is garbage") << Chunks{{0, "sav"}} << QStringList{"drop sav"};
    QTest::newRow("nine digits: the ninth starts a frame")
            << Chunks{{0, "030911821"}} << QStringList{"frame 03091182"};
    QTest::newRow("invalid UTF-8 is dropped")
            << Chunks{{0, "\xff\xfe"
                          "SAV"}}
            << QStringList{QString::fromLatin1("drop \xff\xfe"), "frame SAV"};
    QTest::newRow("gap under the idle timeout keeps the frame")
            << Chunks{{0, "0309"}, {49, "1182"}} << QStringList{"frame 03091182"};
    QTest::newRow("gap of the idle timeout drops the partial frame")
            << Chunks{{0, "0309"}, {50, "1182"}} << QStringList{"drop 0309"};
    QTest::newRow("idle save prefix dropped, next frame whole")
            << Chunks{{0, "SA"}, {100, "SAV"}} << QStringList{"drop SA", "frame SAV"};
    QTest::newRow("nothing") << Chunks{{0, ""}} << QStringList{};
}

void TestFrameReader::feed()
{
    QFETCH(Chunks, chunks);
    QFETCH(QStringList, events);

    FrameReader reader;
    QList<FrameEvent> seen;
    for (const Chunk &chunk : chunks)
        seen += reader.feed(chunk.bytes, chunk.atMs);
    QCOMPARE(describe(seen), events);
}

void TestFrameReader::idlePartialFrameExpires()
{
    FrameReader reader;
    QVERIFY(reader.feed("0309", 1000).isEmpty());
    QVERIFY(reader.hasPartialFrame());
    QVERIFY(reader.expire(1049).isEmpty());
    QCOMPARE(describe(reader.expire(1050)), QStringList{"drop 0309"});
    QVERIFY(!reader.hasPartialFrame());
    QCOMPARE(describe(reader.feed("03091182", 1060)), QStringList{"frame 03091182"});
}

QTEST_APPLESS_MAIN(TestFrameReader)
#include "tst_framereader.moc"
