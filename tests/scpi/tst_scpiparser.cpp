#include "scpi/scpinumber.h"
#include "scpi/scpiparser.h"
#include "scpi/scpistatus.h"

#include <QTest>

namespace {

const char *nameOf(ScpiHeader header)
{
    static const char *const names[]
            = {"*IDN", "*RST", "*CLS", "*ESE", "*ESR", "*OPC", "*SRE", "*STB",
               "*WAI", "*TST", "*SAV", "NEXT", "ALL",  "COUN", "VERS", "LINK",
               "REPL", "REQ",  "REL",  "OWN",  "DEL",  "WIDT", "TIM"};
    return names[int(header)];
}

// "DEL3? ; TIM1 1NS|2NS": header, suffix for PULSe, "?" for queries, parameters.
QString describe(const QList<ScpiCommand> &commands)
{
    QStringList parts;
    for (const ScpiCommand &command : commands) {
        QString part = QString::fromLatin1(nameOf(command.header));
        if (command.header == ScpiHeader::Delay || command.header == ScpiHeader::Width
            || command.header == ScpiHeader::Timing)
            part += QString::number(command.suffix);
        if (command.query)
            part += u'?';
        if (!command.parameters.isEmpty())
            part += u' ' + QString::fromLatin1(command.parameters.join('|'));
        parts.append(part);
    }
    return parts.join(QStringLiteral(" ; "));
}

} // namespace

class TestScpiParser : public QObject
{
    Q_OBJECT

private slots:
    void lines_data();
    void lines();
    void numbers_data();
    void numbers();
    void errorQueueKeepsTwentyThenOverflows();
    void statusRegisters();
};

void TestScpiParser::lines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("commands");
    QTest::addColumn<int>("error");

    QTest::newRow("common query") << QByteArray("*IDN?") << "*IDN?" << 0;
    QTest::newRow("common, lower case") << QByteArray("*idn?") << "*IDN?" << 0;
    QTest::newRow("optional NEXT left out") << QByteArray("SYST:ERR?") << "NEXT?" << 0;
    QTest::newRow("long forms") << QByteArray("SYSTem:ERRor:NEXT?") << "NEXT?" << 0;
    QTest::newRow("leading colon, lower case") << QByteArray(":syst:err:coun?") << "COUN?" << 0;
    QTest::newRow("optional SOURce written")
            << QByteArray("SOURCE:PULS3:DEL 1NS") << "DEL3 1NS" << 0;
    QTest::newRow("long form, space before the unit")
            << QByteArray("PULSE16:WIDTH 2 ns") << "WIDT16 2 ns" << 0;
    QTest::newRow("no suffix is channel 1, spaces around comma")
            << QByteArray("PULS:TIM 1NS , 2NS") << "TIM1 1NS|2NS" << 0;
    QTest::newRow("chained header continues the path")
            << QByteArray("PULS2:DEL 1NS;WIDT 2NS") << "DEL2 1NS ; WIDT2 2NS" << 0;
    QTest::newRow("common command keeps the path")
            << QByteArray("PULS2:DEL?;*OPC?;WIDT?") << "DEL2? ; *OPC? ; WIDT2?" << 0;
    QTest::newRow("colon restarts at the root")
            << QByteArray("PULS2:DEL?;:PULS3:DEL?") << "DEL2? ; DEL3?" << 0;
    QTest::newRow("unknown in the path falls back to the root")
            << QByteArray("PULS2:DEL?;SYST:ERR?") << "DEL2? ; NEXT?" << 0;
    QTest::newRow("empty units ignored") << QByteArray(" *CLS ; ;") << "*CLS" << 0;
    QTest::newRow("empty line") << QByteArray("") << "" << 0;
    QTest::newRow("suffix 0 passed on") << QByteArray("PULS0:DEL?") << "DEL0?" << 0;
    QTest::newRow("suffix too long for a number")
            << QByteArray("PULS99999999999:DEL?") << "DEL0?" << 0;
    QTest::newRow("semicolon inside a string") << QByteArray("*SAV \"a;b\"") << "*SAV \"a;b\"" << 0;

    QTest::newRow("unknown header") << QByteArray("PULS1:DELAYS 1") << "" << -113;
    QTest::newRow("query-only header set") << QByteArray("SYST:ERR") << "" << -113;
    QTest::newRow("set-only header queried") << QByteArray("*CLS?") << "" << -113;
    QTest::newRow("suffix on a plain node") << QByteArray("SYST1:ERR?") << "" << -113;
    QTest::newRow("optional node twice") << QByteArray("SOUR:SOUR:PULS1:DEL?") << "" << -113;
    QTest::newRow("parameter not allowed") << QByteArray("*RST 1") << "" << -108;
    QTest::newRow("query with a limit") << QByteArray("PULS1:DEL? MAX") << "DEL1? MAX" << 0;
    QTest::newRow("query without limits") << QByteArray("PULS1:TIM? MAX") << "" << -108;
    QTest::newRow("every error") << QByteArray("SYST:ERR:ALL?") << "ALL?" << 0;
    QTest::newRow("missing parameter") << QByteArray("PULS1:TIM 1NS") << "" << -109;
    QTest::newRow("empty parameter") << QByteArray("PULS1:TIM 1NS,,2NS") << "" << -109;
    QTest::newRow("empty mnemonic") << QByteArray("SYST::ERR?") << "" << -100;
    QTest::newRow("bad character in header") << QByteArray("PULS1:D#L 1") << "" << -100;
    QTest::newRow("unterminated string") << QByteArray("*SAV \"0") << "" << -100;
    QTest::newRow("commands before an error run, those after do not")
            << QByteArray("*IDN?;BOGUS;*OPC?") << "*IDN?" << -113;
}

void TestScpiParser::lines()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, commands);
    QFETCH(int, error);

    const ScpiLine parsed = parseScpiLine(line);
    QCOMPARE(describe(parsed.commands), commands);
    QCOMPARE(parsed.error ? int(parsed.error->code) : 0, error);
}

void TestScpiParser::numbers_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("unit");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("error");

    const QByteArray s = "S";
    QTest::newRow("ns") << QByteArray("1NS") << s << 1e-9 << 0;
    QTest::newRow("ns, lower case, space") << QByteArray("1 ns") << s << 1e-9 << 0;
    QTest::newRow("ps with exponent") << QByteArray("1.5E3PS") << s << 1.5e-9 << 0;
    QTest::newRow("plain seconds") << QByteArray("0.000000001") << s << 1e-9 << 0;
    QTest::newRow("s with exponent") << QByteArray("1e-9S") << s << 1e-9 << 0;
    QTest::newRow("us") << QByteArray("2US") << s << 2e-6 << 0;
    QTest::newRow("ms is milli") << QByteArray("3MS") << s << 3e-3 << 0;
    QTest::newRow("leading point, plus sign") << QByteArray("+.5NS") << s << 0.5e-9 << 0;
    QTest::newRow("negative kept for the caller") << QByteArray("-1PS") << s << -1e-12 << 0;
    QTest::newRow("MIN") << QByteArray("MIN") << s << 0.0 << 0;
    QTest::newRow("MAXimum") << QByteArray("maximum") << s << 5.621e-9 << 0;
    QTest::newRow("plain number, no unit") << QByteArray("32") << QByteArray() << 32.0 << 0;
    QTest::newRow("kilo is no time prefix here") << QByteArray("1KS") << s << 0.0 << -131;
    QTest::newRow("other unit") << QByteArray("1 V") << s << 0.0 << -131;
    QTest::newRow("unit where none belongs") << QByteArray("32S") << QByteArray() << 0.0 << -131;
    QTest::newRow("unit alone") << QByteArray("NS") << s << 0.0 << -104;
    QTest::newRow("two points") << QByteArray("1..2") << s << 0.0 << -104;
    QTest::newRow("string") << QByteArray("\"1\"") << s << 0.0 << -104;
}

void TestScpiParser::numbers()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, unit);
    QFETCH(double, value);
    QFETCH(int, error);

    const auto parsed = parseScpiNumber(text, unit, {0, 5.621e-9});
    if (!parsed) {
        QCOMPARE(int(parsed.error().code), error);
        return;
    }
    QCOMPARE(error, 0);
    QCOMPARE(parsed.value(), value);
}

void TestScpiParser::errorQueueKeepsTwentyThenOverflows()
{
    ScpiStatus status;
    status.pushError({ScpiErrorCode::UndefinedHeader, QStringLiteral("FIRST")});
    for (int i = 1; i < 25; ++i)
        status.pushError({ScpiErrorCode::DataOutOfRange, {}});
    QCOMPARE(status.errorCount(), ScpiStatus::kErrorQueueLength);
    QCOMPARE(status.takeNextError(), QByteArray("-113,\"Undefined header;FIRST\""));
    for (int i = 1; i < 19; ++i)
        QCOMPARE(status.takeNextError(), QByteArray("-222,\"Data out of range\""));
    QCOMPARE(status.takeNextError(), QByteArray("-350,\"Queue overflow\""));
    QCOMPARE(status.takeNextError(), QByteArray("0,\"No error\""));
    QCOMPARE(status.errorCount(), 0);
}

void TestScpiParser::statusRegisters()
{
    ScpiStatus status;
    QCOMPARE(status.statusByte(), 0);
    status.pushError({ScpiErrorCode::CommandError, QStringLiteral("say \"hi\"\n")});
    status.pushError({ScpiErrorCode::HardwareMissing, {}});
    QCOMPARE(status.statusByte(), 0x04); // queue not empty, nothing enabled
    status.setEventEnable(0x20);
    status.setServiceEnable(0xff);
    QCOMPARE(status.serviceEnable(), 0xbf);
    QCOMPARE(status.statusByte(), 0x04 | 0x20 | 0x40);
    QCOMPARE(status.takeNextError(), QByteArray("-100,\"Command error;say \"\"hi\"\"\\n\""));
    QCOMPARE(status.takeEventStatus(), 0x20 | 0x10);
    QCOMPARE(status.takeEventStatus(), 0);
    status.setOperationComplete();
    QCOMPARE(status.statusByte(), 0x04 | 0x40); // -241 still queued; OPC not enabled
    status.clear();
    QCOMPARE(status.statusByte(), 0);
    QCOMPARE(status.takeEventStatus(), 0);
}

QTEST_APPLESS_MAIN(TestScpiParser)
#include "tst_scpiparser.moc"
