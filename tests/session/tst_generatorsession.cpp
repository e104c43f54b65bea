#include "device/generatorids.h"
#include "session/generatorsession.h"
#include "session/requestedport.h"

#include "tests/support/pseudoterminal.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using Optional = std::optional<int>;

namespace {

constexpr int kWaitMs = 2000;

// Runs one command and waits for its outcome.
SessionOutcome run(const std::function<void(GeneratorSession::Completion)> &queue)
{
    std::optional<SessionOutcome> outcome;
    queue([&outcome](const SessionOutcome &result) { outcome = result; });
    if (!QTest::qWaitFor([&] { return outcome.has_value(); }, kWaitMs))
        return {SessionStatus::Done, QStringLiteral("no outcome")};
    return *outcome;
}

SessionOutcome setPulse(GeneratorSession &session, int channel, Optional delay, Optional width)
{
    return run([&](auto done) { session.setPulse(channel, delay, width, done); });
}

// What the session wrote, letting its event loop run meanwhile.
QByteArray received(PseudoTerminal &end, int count)
{
    QByteArray bytes;
    [[maybe_unused]] const bool complete = QTest::qWaitFor(
            [&] { return (bytes += end.readPending()).size() >= count; }, kWaitMs);
    return bytes;
}

PortDescription generator(const QString &path, const QString &serial)
{
    return {path, path, kGeneratorVendorId, kGeneratorProductId, serial};
}

} // namespace

class TestGeneratorSession : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void replyEndsAtLineFeedAndLateBytesStayUnattributed();
    void hangUpWhileIdle();
    void hangUpDuringExchange();
    void reopensTheGeneratorWithTheSameSerialNumber();
    void requestedPorts_data();
    void requestedPorts();
    void severalGeneratorsAreNamed();

private:
    std::unique_ptr<PseudoTerminal> generatorEnd;
    std::unique_ptr<GeneratorSession> session;
};

void TestGeneratorSession::init()
{
    generatorEnd = std::make_unique<PseudoTerminal>();
    QVERIFY(generatorEnd->isValid());
    session = std::make_unique<GeneratorSession>(generatorEnd->devicePath());
    session->setReplyTimeoutMs(20);
    session->start();
    QVERIFY(session->isLinkUp());
}

void TestGeneratorSession::cleanup()
{
    session.reset();
    generatorEnd.reset();
}

void TestGeneratorSession::replyEndsAtLineFeedAndLateBytesStayUnattributed()
{
    session->setReplyTimeoutMs(300);
    QVERIFY(generatorEnd->write("early"));
    QTest::qWait(20);

    std::optional<SessionOutcome> outcome;
    QElapsedTimer clock;
    clock.start();
    session->save([&outcome](const SessionOutcome &result) { outcome = result; });
    QCOMPARE(received(*generatorEnd, 3), QByteArray("SAV"));
    QVERIFY(generatorEnd->write("OK"));
    QTest::qWait(30);
    QVERIFY(!outcome);
    QVERIFY(generatorEnd->write("\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(outcome.has_value(), kWaitMs);
    QVERIFY2(clock.elapsed() < 250, "the line feed ends the reply, not the timeout");
    QCOMPARE(session->lastReply(), QByteArray("OK\r\n"));

    // A reply that comes after the timeout belongs to nobody.
    session->setReplyTimeoutMs(20);
    QCOMPARE(run([&](auto done) { session->save(done); }).status, SessionStatus::Done);
    QCOMPARE(session->lastReply(), QByteArray());
    QVERIFY(generatorEnd->write("LATE\r\n"));
    QTest::qWait(30);
    QCOMPARE(run([&](auto done) { session->save(done); }).status, SessionStatus::Done);
    QCOMPARE(session->lastReply(), QByteArray());
}

void TestGeneratorSession::hangUpWhileIdle()
{
    QCOMPARE(setPulse(*session, 7, 1, 2).status, SessionStatus::Done);
    QSignalSpy link(session.get(), &GeneratorSession::linkChanged);
    QSignalSpy changed(session.get(), &GeneratorSession::channelChanged);

    generatorEnd->hangUp();
    QTRY_COMPARE_WITH_TIMEOUT(link.count(), 1, kWaitMs);
    QCOMPARE(link.first().first().toBool(), false);
    QCOMPARE(changed.count(), 1);
    QVERIFY(!session->channel(7));
    QCOMPARE(setPulse(*session, 7, 1, 2).status, SessionStatus::LinkDown);
    QCOMPARE(setPulse(*session, 7, 1, Optional()).status, SessionStatus::LinkDown);
}

void TestGeneratorSession::hangUpDuringExchange()
{
    session->setReplyTimeoutMs(1000);
    std::optional<SessionOutcome> outcome;
    session->save([&outcome](const SessionOutcome &result) { outcome = result; });
    QCOMPARE(received(*generatorEnd, 3), QByteArray("SAV"));
    generatorEnd->hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(outcome.has_value(), 500);
    QCOMPARE(outcome->status, SessionStatus::LinkLost);
    QVERIFY(!session->isLinkUp());
}

void TestGeneratorSession::reopensTheGeneratorWithTheSameSerialNumber()
{
    PseudoTerminal first;
    PseudoTerminal other;
    PseudoTerminal replugged;
    QList<PortDescription> attached{generator(first.devicePath(), QStringLiteral("A1"))};
    GeneratorSession discovering(QString(), [&attached] { return attached; });
    discovering.start();
    QVERIFY(discovering.isLinkUp());
    QCOMPARE(discovering.serialNumber(), QStringLiteral("A1"));

    QSignalSpy link(&discovering, &GeneratorSession::linkChanged);
    first.hangUp();
    QTRY_COMPARE_WITH_TIMEOUT(link.count(), 1, kWaitMs);
    attached = {generator(other.devicePath(), QStringLiteral("B2")),
                generator(replugged.devicePath(), QStringLiteral("A1"))};
    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(link.count(), 2, kWaitMs);
    QVERIFY(clock.elapsed() <= 1500); // one reopen attempt a second, on a busy machine
    QCOMPARE(discovering.portName(), replugged.devicePath());
    QCOMPARE(setPulse(discovering, 1, 2, Optional()).status, SessionStatus::Conflict);
    QCOMPARE(setPulse(discovering, 1, 2, 3).status, SessionStatus::Done);
    QCOMPARE(replugged.read(8, kWaitMs), QByteArray("01002003"));
    QCOMPARE(other.readPending(), QByteArray());
}

void TestGeneratorSession::requestedPorts_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("usable");

    QTest::newRow("not there yet") << QStringLiteral("/nonexistent/ttyACM0") << true;
    QTest::newRow("character device, not a terminal") << QStringLiteral("/dev/null") << false;
    QTest::newRow("bare name under /dev") << QStringLiteral("null") << false;
    QTest::newRow("regular file") << QStringLiteral("/etc/passwd") << false;
    QTest::newRow("directory") << QStringLiteral("/tmp") << false;
}

void TestGeneratorSession::requestedPorts()
{
    QFETCH(QString, port);
    QFETCH(bool, usable);

    QCOMPARE(checkRequestedPort(port).ok(), usable);
    QVERIFY(checkRequestedPort(generatorEnd->devicePath()).ok());
}

void TestGeneratorSession::severalGeneratorsAreNamed()
{
    const PortDescription other{QStringLiteral("ttyUSB0"), QString(), 0x0403, 0x6001, {}};
    QVERIFY(checkSingleGenerator({generator(QStringLiteral("ttyACM0"), {}), other}).ok());
    const Result<void> two
            = checkSingleGenerator({generator(QStringLiteral("ttyACM0"), {}), other,
                                    generator(QStringLiteral("ttyACM3"), QStringLiteral("4A5B"))});
    QVERIFY(!two.ok());
    QCOMPARE(two.error(), QStringLiteral("2 generators attached: ttyACM0, ttyACM3 (serial number "
                                         "4A5B); pick one with --port"));
}

QTEST_GUILESS_MAIN(TestGeneratorSession)
#include "tst_generatorsession.moc"
