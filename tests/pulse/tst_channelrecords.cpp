#include "pulse/channelrecords.h"

#include <QTest>

class TestChannelRecords : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
};

void TestChannelRecords::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("records"); // "channel:delay:width" in file order
    QTest::addColumn<int>("errorLine");
    QTest::addColumn<QString>("errorPart");

    QTest::newRow("empty") << ""
                           << "" << 0 << "";
    QTest::newRow("only comments and blanks") << "# a\n\n   \n\t# b\n"
                                              << "" << 0 << "";
    QTest::newRow("file order kept") << "16 5621 0\n1 0 1000\n"
                                     << "16:5621:0 1:0:1000" << 0 << "";
    QTest::newRow("tabs, spaces and a trailing comment") << "\t3   1000\t2000 # scan start\n"
                                                         << "3:1000:2000" << 0 << "";
    QTest::newRow("CR LF line ends") << "1 0 0\r\n2 11 22\r\n"
                                     << "1:0:0 2:11:22" << 0 << "";
    QTest::newRow("leading zeros") << "03 0011 0022\n"
                                   << "3:11:22" << 0 << "";
    QTest::newRow("too few fields") << "1 0 0\n2 100\n"
                                    << "" << 2 << "found 2 field";
    QTest::newRow("too many fields") << "2 100 200 300\n"
                                     << "" << 1 << "found 4 field";
    QTest::newRow("not a number") << "# x\n2 1e3 0\n"
                                  << "" << 2 << "\"1e3\"";
    QTest::newRow("a fraction") << "2 10.5 0\n"
                                << "" << 1 << "\"10.5\"";
    QTest::newRow("channel 0") << "0 0 0\n"
                               << "" << 1 << "channel 0";
    QTest::newRow("channel 17") << "17 0 0\n"
                                << "" << 1 << "channel 17";
    QTest::newRow("time below 0") << "1 -11 0\n"
                                  << "" << 1 << "-11 is outside";
    QTest::newRow("time above the maximum") << "1 0 5622\n"
                                            << "" << 1 << "5622 is outside";
    QTest::newRow("maximum time is fine") << "1 5621 5621\n"
                                          << "1:5621:5621" << 0 << "";
    QTest::newRow("channel twice") << "4 0 0\n5 0 0\n4 11 11\n"
                                   << "" << 3 << "channel 4 is given twice";
    QTest::newRow("first error wins") << "x\n17 0 0\n"
                                      << "" << 1 << "found 1 field";
    QTest::newRow("NUL inside a number") << QStringLiteral("1 0 10\0"
                                                           "00\n")
                                         << "" << 1 << "U+0000";
    QTest::newRow("junk after a NUL") << QStringLiteral("1 0 1000\0junk\n") << "" << 1 << "U+0000";
    QTest::newRow("NUL in a comment") << QStringLiteral("1 0 0 # \0\n") << "" << 1 << "U+0000";
    QTest::newRow("escape character") << "2 0 0\n3 \x1b[7m0 0\n"
                                      << "" << 2 << "U+001b";
    QTest::newRow("vertical tab between fields") << "3 0\v0\n"
                                                 << "" << 1 << "U+000b";
    QTest::newRow("form feed line") << "\f\n1 0 0\n"
                                    << "" << 1 << "U+000c";
    QTest::newRow("signed numbers") << "+3 +11 -0\n"
                                    << "3:11:0" << 0 << "";
    QTest::newRow("hexadecimal") << "0x3 0 0\n"
                                 << "" << 1 << "\"0x3\"";
    QTest::newRow("number too large for int") << "1 99999999999 0\n"
                                              << "" << 1 << "\"99999999999\"";
}

void TestChannelRecords::parse()
{
    QFETCH(QString, text);
    QFETCH(QString, records);
    QFETCH(int, errorLine);
    QFETCH(QString, errorPart);

    const Result<QList<ChannelRecord>> parsed = parseChannelRecords("scan.txt", text, 5621);
    QStringList seen;
    for (const ChannelRecord &record : parsed ? parsed.value() : QList<ChannelRecord>())
        seen.append(
                QStringLiteral("%1:%2:%3").arg(record.channel).arg(record.delay).arg(record.width));
    QCOMPARE(seen.join(u' '), records);
    QCOMPARE(parsed.ok(), errorLine == 0);
    if (errorLine != 0) {
        const QString where = QStringLiteral("scan.txt:%1: ").arg(errorLine);
        QVERIFY2(parsed.error().startsWith(where) && parsed.error().contains(errorPart),
                 qPrintable(parsed.error()));
    }
}

QTEST_APPLESS_MAIN(TestChannelRecords)
#include "tst_channelrecords.moc"
