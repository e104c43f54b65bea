#include "instrument/generatorlock.h"
#include "instrument/scpiinterpreter.h"
#include "session/generatorsession.h"

#include "tests/support/pseudoterminal.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

using Codes = QList<int>;

class TestScpiInterpreter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void commands_data();
    void commands();
    void identifiesTheUnitAndPort();
    void queriesWaitForOtherClients();
    void refusalIsADeviceError();
    void lockKeepsOthersFromTheGenerator();
    void linkLossErrors();

private:
    QByteArray send(const QByteArray &line);
    Codes drainErrors();

    std::unique_ptr<PseudoTerminal> generatorEnd;
    std::unique_ptr<GeneratorSession> session;
    GeneratorLock lock;
    LockHolder client{lock, QStringLiteral("socket 127.0.0.1:1 connection 1")};
    std::unique_ptr<ScpiInterpreter> interpreter;
};

void TestScpiInterpreter::init()
{
    generatorEnd = std::make_unique<PseudoTerminal>();
    session = std::make_unique<GeneratorSession>(generatorEnd->devicePath());
    session->setReplyTimeoutMs(5);
    session->start();
    QVERIFY(session->isLinkUp());
    interpreter = std::make_unique<ScpiInterpreter>(*session, client);
}

void TestScpiInterpreter::cleanup()
{
    interpreter.reset();
    session.reset();
    generatorEnd.reset();
}

QByteArray TestScpiInterpreter::send(const QByteArray &line)
{
    QSignalSpy done(interpreter.get(), &ScpiInterpreter::lineDone);
    interpreter->execute(line);
    if (done.isEmpty() && !done.wait(2000))
        return "(no answer)";
    return done.first().first().toByteArray();
}

Codes TestScpiInterpreter::drainErrors()
{
    Codes codes;
    for (int code = send("SYST:ERR?").split(',').first().toInt(); code != 0 && codes.size() < 30;
         code = send("SYST:ERR?").split(',').first().toInt())
        codes.append(code);
    return codes;
}

void TestScpiInterpreter::commands_data()
{
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QByteArrayList>("answers");
    QTest::addColumn<QByteArray>("frames");
    QTest::addColumn<Codes>("errors");

    using L = QByteArrayList;
    QTest::newRow("TIMing at the edges of channels 1 and 16")
            << L{"PULS1:TIM 0,5.621NS", "SOURce:PULSe16:TIMing 5621PS,0", "PULS1:TIM?;:PULS16:TIM?"}
            << L{"", "", "0.000E+00,5.621E-09;5.621E-09,0.000E+00"}
            << QByteArray("0100051116511000") << Codes{};
    QTest::newRow("rounded to 11 ps like the window")
            << L{"PULS3:TIM 1NS,2NS", "PULS3:DEL?;WIDT?"} << L{"", "1.001E-09;2.002E-09"}
            << QByteArray("03091182") << Codes{};
    QTest::newRow("half steps round up")
            << L{"PULS2:TIM 5.5PS,16.5PS"} << L{""} << QByteArray("02001002") << Codes{};
    QTest::newRow("delay alone keeps the width")
            << L{"PULS4:TIM 1NS,1NS", "PULS4:DEL 2NS;:PULS4:TIM?"} << L{"", "2.002E-09,1.001E-09"}
            << QByteArray("0409109104182091") << Codes{};
    QTest::newRow("MIN and MAX") << L{"PULS5:TIM MIN,MAX", "PULS5:WIDT?"} << L{"", "5.621E-09"}
                                 << QByteArray("05000511") << Codes{};
    QTest::newRow("unknown until set")
            << L{"PULS6:DEL?;WIDT?;TIM?"} << L{"9.91E37;9.91E37;9.91E37,9.91E37"} << QByteArray()
            << Codes{};
    QByteArray zeroes;
    for (const char *channel : {"01", "02", "03", "04", "05", "06", "07", "08", "09", "10", "11",
                                "12", "13", "14", "15", "16"})
        zeroes += QByteArray(channel) + "000000";
    QTest::newRow("*RST zeroes every channel")
            << L{"*RST", "PULS9:TIM?"} << L{"", "0.000E+00,0.000E+00"} << zeroes << Codes{};
    QTest::newRow("*SAV 0") << L{"*SAV 0;*OPC?"} << L{"1"} << QByteArray("SAV") << Codes{};
    QTest::newRow("*SAV 0 written otherwise")
            << L{"*SAV +0", "*SAV 0.0", "*SAV 0E0"} << L{"", "", ""} << QByteArray("SAVSAVSAV")
            << Codes{};
    QTest::newRow("limits of a time")
            << L{"PULS1:DEL? MIN;WIDT? maximum", "PULS1:DEL? 1NS"} << L{"0.000E+00;5.621E-09", ""}
            << QByteArray() << Codes{-224};
    QTest::newRow("every error at once, without commas in their texts")
            << L{"BOGUS", "PULS1:DEL \"a,b\"", "SYST:ERR:ALL?;COUN?", "SYST:ERR:ALL?"}
            << L{"", "", R"(-113,"Undefined header;BOGUS",-104,"Data type error;""a b""";0)",
                 R"(0,"No error")"}
            << QByteArray() << Codes{};
    QTest::newRow("status registers")
            << L{"*ESE 36;*SRE 32;*ESE?;*SRE?", "*OPC;*ESR?;*ESR?", "BOGUS", "*STB?;*ESR?;*STB?"}
            << L{"36;32", "1;0", "", "100;32;4"} << QByteArray() << Codes{-113};
    QTest::newRow("*CLS empties the queue")
            << L{"BOGUS", "*CLS;SYST:ERR:COUN?"} << L{"", "0"} << QByteArray() << Codes{};
    QTest::newRow("plain queries")
            << L{"*TST?;SYST:VERS?;*OPC?;*WAI"} << L{"0;1999.0;1"} << QByteArray() << Codes{};

    QTest::newRow("-221 delay while the width is unknown")
            << L{"PULS7:DEL 1NS"} << L{""} << QByteArray() << Codes{-221};
    QTest::newRow("-222 above the largest time, though it would round to it")
            << L{"PULS8:TIM 5621.4PS,0"} << L{""} << QByteArray() << Codes{-222};
    QTest::newRow("-222 one step over budget, nothing sent")
            << L{"PULS7:TIM 5621PS,11PS;TIM?"} << L{"9.91E37,9.91E37"} << QByteArray()
            << Codes{-222};
    QTest::newRow("-222 width alone over budget")
            << L{"PULS7:TIM 1NS,1NS", "PULS7:WIDT 5NS"} << L{"", ""} << QByteArray("07091091")
            << Codes{-222};
    QTest::newRow("-222 negative, then the next command runs")
            << L{"PULS7:DEL -1PS;:*OPC?"} << L{"1"} << QByteArray() << Codes{-222};
    QTest::newRow("-222 save location") << L{"*SAV 1"} << L{""} << QByteArray() << Codes{-222};
    QTest::newRow("-222 register value") << L{"*ESE 256"} << L{""} << QByteArray() << Codes{-222};
    QTest::newRow("-114 channels 0 and 17")
            << L{"PULS0:TIM 0,0", "PULS17:DEL?"} << L{"", ""} << QByteArray() << Codes{-114, -114};
    QTest::newRow("-131 unit") << L{"PULS1:TIM 1NV,1NS"} << L{""} << QByteArray() << Codes{-131};
    QTest::newRow("-104 not a number")
            << L{"PULS1:TIM A,1NS"} << L{""} << QByteArray() << Codes{-104};
    QTest::newRow("-113 ends the line")
            << L{"*OPC?;NOPE?;*OPC?"} << L{"1"} << QByteArray() << Codes{-113};
    QTest::newRow("-100, -108, -109") << L{"PULS1::TIM 0,0", "*RST 0", "PULS1:TIM 0"}
                                      << L{"", "", ""} << QByteArray() << Codes{-100, -108, -109};
    QTest::newRow("-350 after twenty errors") << QByteArrayList(25, "X") << L(25, "")
                                              << QByteArray() << Codes(19, -113) + Codes{-350};
}

void TestScpiInterpreter::commands()
{
    QFETCH(QByteArrayList, lines);
    QFETCH(QByteArrayList, answers);
    QFETCH(QByteArray, frames);
    QFETCH(Codes, errors);

    QByteArrayList answered;
    for (const QByteArray &line : lines)
        answered.append(send(line));
    QCOMPARE(answered, answers);
    QCOMPARE(generatorEnd->readPending(), frames);
    QCOMPARE(drainErrors(), errors);
}

void TestScpiInterpreter::identifiesTheUnitAndPort()
{
    const QByteArrayList fields = send("*IDN?").split(',');
    QCOMPARE(fields.size(), 4);
    QCOMPARE(fields[0], QByteArray("Kestrane"));
    QCOMPARE(fields[2], QByteArray("0")); // a pseudo-terminal has no serial number
    QCOMPARE(fields[3], QByteArray(KESTRANE_VERSION));
    QCOMPARE(send("SYST:LINK?"), '"' + generatorEnd->devicePath().toUtf8() + "\",1");
}

void TestScpiInterpreter::queriesWaitForOtherClients()
{
    session->setReplyTimeoutMs(1000);
    LockHolder otherClient(lock, QStringLiteral("other"));
    ScpiInterpreter other(*session, otherClient);
    QSignalSpy set(&other, &ScpiInterpreter::lineDone);
    other.execute("PULS12:TIM 1NS,2NS");
    QCOMPARE(generatorEnd->read(8, 2000), QByteArray("03091182").replace(0, 2, "12"));

    QSignalSpy queried(interpreter.get(), &ScpiInterpreter::lineDone);
    interpreter->execute("PULS12:TIM?");
    QTest::qWait(50);
    QVERIFY2(queried.isEmpty(), "answered before the setting queued first was done");
    QVERIFY(generatorEnd->write("OK\r\n"));
    QVERIFY(queried.wait(2000));
    QCOMPARE(queried.first().first().toByteArray(), QByteArray("1.001E-09,2.002E-09"));
    QCOMPARE(set.count(), 1);
}

void TestScpiInterpreter::refusalIsADeviceError()
{
    session->setReplyTimeoutMs(1000);
    QSignalSpy saved(interpreter.get(), &ScpiInterpreter::lineDone);
    interpreter->execute("*SAV 0;*OPC?");
    QCOMPARE(generatorEnd->read(3, 2000), QByteArray("SAV"));
    QVERIFY(generatorEnd->write("ERR\r\n"));
    QVERIFY(saved.wait(2000));
    QCOMPARE(saved.first().first().toByteArray(), QByteArray("1"));
    QCOMPARE(send("*ESR?;SYST:ERR?"),
             QByteArray(R"(8;-300,"Device-specific error;the generator answered ERR to SAV")"));
}

void TestScpiInterpreter::lockKeepsOthersFromTheGenerator()
{
    LockHolder otherClient(lock, QStringLiteral("VXI-11 127.0.0.1 link 7"));
    ScpiInterpreter other(*session, otherClient);
    const auto sendOther = [&other](const QByteArray &line) {
        QSignalSpy done(&other, &ScpiInterpreter::lineDone);
        other.execute(line);
        return done.isEmpty() && !done.wait(2000) ? QByteArray()
                                                  : done.first().first().toByteArray();
    };
    QCOMPARE(sendOther("SYST:LOCK:REQ?"), QByteArray("1"));
    QCOMPARE(send("SYST:LOCK:REQ?;OWN?"), QByteArray(R"(0;"VXI-11 127.0.0.1 link 7")"));
    QCOMPARE(send("PULS2:TIM 1NS,1NS;*RST;*SAV 0;:PULS2:TIM?;*IDN?").left(25),
             QByteArray("9.91E37,9.91E37;Kestrane,"));
    QCOMPARE(generatorEnd->readPending(), QByteArray());
    QCOMPARE(
            send("SYST:ERR:ALL?"),
            QByteArray(
                    R"(-203,"Command protected;the generator is locked by VXI-11 127.0.0.1 link 7",)"
                    R"(-203,"Command protected;the generator is locked by VXI-11 127.0.0.1 link 7",)"
                    R"(-203,"Command protected;the generator is locked by VXI-11 127.0.0.1 link 7")"));
    QCOMPARE(send("SYST:LOCK:REL"), QByteArray()); // not its own: nothing happens
    QCOMPARE(sendOther("PULS2:TIM 1NS,1NS;SYST:LOCK:REL;:SYST:LOCK:OWN?"), QByteArray(R"("NONE")"));
    QCOMPARE(send("PULS2:TIM 2NS,1NS;TIM?"), QByteArray("2.002E-09,1.001E-09"));
    QCOMPARE(generatorEnd->readPending(), QByteArray("0209109102182091"));
}

void TestScpiInterpreter::linkLossErrors()
{
    session->setReplyTimeoutMs(1000);
    QSignalSpy saved(interpreter.get(), &ScpiInterpreter::lineDone);
    interpreter->execute("*SAV 0;SYST:REPL?");
    QVERIFY(QTest::qWaitFor([&] { return !generatorEnd->readPending().isEmpty(); }, 2000));
    QVERIFY(generatorEnd->write("A\"\x01\r\n"));
    QVERIFY(saved.wait(500));
    QCOMPARE(saved.first().first().toByteArray(), QByteArray("\"A\"\"\\x01\\r\\n\""));

    QSignalSpy done(interpreter.get(), &ScpiInterpreter::lineDone);
    interpreter->execute("*RST;*OPC?");
    QVERIFY(QTest::qWaitFor([&] { return !generatorEnd->readPending().isEmpty(); }, 2000));
    generatorEnd->hangUp();
    QVERIFY(done.wait(500));
    QCOMPARE(done.first().first().toByteArray(), QByteArray("1"));

    QCOMPARE(send("PULS1:TIM 1NS,1NS;:PULS1:TIM?;*TST?"), QByteArray("9.91E37,9.91E37;1"));
    QCOMPARE(send("SYST:LINK?").right(2), QByteArray(",0"));
    QCOMPARE(drainErrors(), (Codes{-240, -241}));
}

QTEST_GUILESS_MAIN(TestScpiInterpreter)
#include "tst_scpiinterpreter.moc"
