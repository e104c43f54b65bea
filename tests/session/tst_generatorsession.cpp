#include "device/generatorids.h"
#include "session/generatorsession.h"
#include "session/requestedport.h"

#include "tests/support/pseudoterminal.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

using Optional = std::optional<double>;
Q_DECLARE_METATYPE(Optional)
Q_DECLARE_METATYPE(SessionStatus)

namespace {

// Who the commands come from, in the record.
const QString kClient = QStringLiteral("test");

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
    return run([&](auto done) { session.setPulse(kClient, channel, delay, width, done); });
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
    void lateReplyNeverAnswersTheNextFrame();
    void refusalIsAnErrorAndForgetsTheChannel_data();
    void refusalIsAnErrorAndForgetsTheChannel();
    void timesAreCheckedBeforeAnythingIsSent_data();
    void timesAreCheckedBeforeAnythingIsSent();
    void stuckWriteLosesTheLink();
    void anotherProgramHoldsTheGenerator();
    void queuedCommandsAreAnsweredWhenTheSessionEnds();
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
    session->save(kClient, [&outcome](const SessionOutcome &result) { outcome = result; });
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
    QCOMPARE(run([&](auto done) { session->save(kClient, done); }).status, SessionStatus::Done);
    QCOMPARE(session->lastReply(), QByteArray());
    QVERIFY(generatorEnd->write("LATE\r\n"));
    QTest::qWait(30);
    QCOMPARE(run([&](auto done) { session->save(kClient, done); }).status, SessionStatus::Done);
    QCOMPARE(session->lastReply(), QByteArray());
}

void TestGeneratorSession::lateReplyNeverAnswersTheNextFrame()
{
    session->setReplyTimeoutMs(300);
    std::optional<SessionOutcome> set;
    std::optional<SessionOutcome> saved;
    session->setPulse(kClient, 1, 11, 22, [&set](const SessionOutcome &result) { set = result; });
    session->save(kClient, [&saved](const SessionOutcome &result) { saved = result; });
    QCOMPARE(received(*generatorEnd, 8), QByteArray("01001002"));

    // Past the reply timeout, the next frame waits for the late reply.
    QTest::qWait(400);
    QVERIFY(set && set->status == SessionStatus::Done);
    QCOMPARE(generatorEnd->readPending(), QByteArray());
    QVERIFY(generatorEnd->write("OK\r\n"));
    QCOMPARE(received(*generatorEnd, 3), QByteArray("SAV"));
    QVERIFY(generatorEnd->write("ERR\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(saved.has_value(), kWaitMs);
    QCOMPARE(saved->status, SessionStatus::Refused);
    QCOMPARE(session->lastReply(), QByteArray("ERR\r\n"));
}

void TestGeneratorSession::refusalIsAnErrorAndForgetsTheChannel_data()
{
    QTest::addColumn<int>("replyDelayMs");
    QTest::addColumn<SessionStatus>("status");
    QTest::addColumn<QString>("detail");

    QTest::newRow("in time") << 0 << SessionStatus::Refused
                             << "the generator answered ERR to 05002002";
    QTest::newRow("after the timeout") << 150 << SessionStatus::Done << "";
}

void TestGeneratorSession::refusalIsAnErrorAndForgetsTheChannel()
{
    QFETCH(int, replyDelayMs);
    QFETCH(SessionStatus, status);
    QFETCH(QString, detail);

    session->setReplyTimeoutMs(100);
    QCOMPARE(setPulse(*session, 5, 11, 11).status, SessionStatus::Done);
    QCOMPARE(received(*generatorEnd, 8), QByteArray("05001001"));
    std::optional<SessionOutcome> outcome;
    session->setPulse(kClient, 5, 22, 22,
                      [&outcome](const SessionOutcome &result) { outcome = result; });
    QCOMPARE(received(*generatorEnd, 8), QByteArray("05002002"));
    QTest::qWait(replyDelayMs);
    QVERIFY(generatorEnd->write("ERR\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(outcome.has_value(), kWaitMs);
    QCOMPARE(outcome->status, status);
    QCOMPARE(outcome->detail, detail);
    // Nobody knows what the generator holds now.
    QTRY_VERIFY_WITH_TIMEOUT(!session->channel(5), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(session->isIdle(), kWaitMs);
}

void TestGeneratorSession::timesAreCheckedBeforeAnythingIsSent_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<Optional>("delayPs");
    QTest::addColumn<Optional>("widthPs");
    QTest::addColumn<SessionStatus>("status");
    QTest::addColumn<QByteArray>("frame");

    const Optional none;
    QTest::newRow("rounded to steps") << 3 << Optional(1000) << Optional(2000)
                                      << SessionStatus::Done << QByteArray("03091182");
    QTest::newRow("both edges") << 16 << Optional(5621) << Optional(0) << SessionStatus::Done
                                << QByteArray("16511000");
    QTest::newRow("half a step rounds up")
            << 1 << Optional(5.5) << Optional(0) << SessionStatus::Done << QByteArray("01001000");
    QTest::newRow("no channel 0") << 0 << Optional(0) << Optional(0) << SessionStatus::OutOfRange
                                  << QByteArray();
    QTest::newRow("no channel 17")
            << 17 << Optional(0) << Optional(0) << SessionStatus::OutOfRange << QByteArray();
    QTest::newRow("negative") << 1 << Optional(-1) << Optional(0) << SessionStatus::OutOfRange
                              << QByteArray();
    QTest::newRow("above the largest time")
            << 1 << Optional(0) << Optional(5621.5) << SessionStatus::OutOfRange << QByteArray();
    QTest::newRow("not a number") << 1 << Optional(std::nan("")) << Optional(0)
                                  << SessionStatus::OutOfRange << QByteArray();
    QTest::newRow("over the budget, never clamped")
            << 1 << Optional(3000) << Optional(3000) << SessionStatus::OverBudget << QByteArray();
    QTest::newRow("width alone while unknown")
            << 2 << none << Optional(11) << SessionStatus::OtherTimeUnknown << QByteArray();
    QTest::newRow("out of range before unknown")
            << 2 << Optional(-11) << none << SessionStatus::OutOfRange << QByteArray();
}

void TestGeneratorSession::timesAreCheckedBeforeAnythingIsSent()
{
    QFETCH(int, channel);
    QFETCH(Optional, delayPs);
    QFETCH(Optional, widthPs);
    QFETCH(SessionStatus, status);
    QFETCH(QByteArray, frame);

    QCOMPARE(setPulse(*session, channel, delayPs, widthPs).status, status);
    QCOMPARE(received(*generatorEnd, int(frame.size())), frame);
    QCOMPARE(session->channel(channel).has_value(), !frame.isEmpty());
}

void TestGeneratorSession::stuckWriteLosesTheLink()
{
    // Fill what the line holds: the generator end takes nothing more.
    const int fd = ::open(QFile::encodeName(generatorEnd->devicePath()).constData(),
                          O_WRONLY | O_NONBLOCK | O_NOCTTY);
    QVERIFY(fd >= 0);
    // The kernel moves what was written on in the background: full is when
    // writes keep failing.
    const QByteArray filler(4096, 'x');
    for (int refused = 0; refused < 5;) {
        const bool taken = ::write(fd, filler.constData(), size_t(filler.size())) > 0;
        refused = taken ? 0 : refused + 1;
        if (!taken)
            QTest::qSleep(20);
    }
    ::close(fd);

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(setPulse(*session, 1, 0, 0).status, SessionStatus::LinkLost);
    QVERIFY(clock.elapsed() < 1000);
}

void TestGeneratorSession::anotherProgramHoldsTheGenerator()
{
    // The same device under another name, as /dev/serial/by-id/... names a ttyACM.
    QTemporaryDir folder;
    const QString otherName = folder.filePath(QStringLiteral("by-id-link"));
    QVERIFY(QFile::link(generatorEnd->devicePath(), otherName));
    GeneratorSession second(otherName);
    QSignalSpy link(&second, &GeneratorSession::linkChanged);
    second.start();
    QVERIFY(!second.isLinkUp());
    QCOMPARE(second.linkProblem(), otherName + QStringLiteral(": in use by another program"));

    session.reset();
    QVERIFY(link.wait(kWaitMs));
    QVERIFY(second.isLinkUp());
}

void TestGeneratorSession::queuedCommandsAreAnsweredWhenTheSessionEnds()
{
    QList<SessionStatus> answers;
    const auto record = [&answers](const SessionOutcome &result) { answers.append(result.status); };
    session->save(kClient, record);
    session->afterPending(record);
    session->setPulse(kClient, 1, 0, 0, record);
    session.reset();
    QCOMPARE(answers, QList<SessionStatus>(3, SessionStatus::LinkDown));
}

void TestGeneratorSession::hangUpWhileIdle()
{
    QCOMPARE(setPulse(*session, 7, 11, 22).status, SessionStatus::Done);
    QSignalSpy link(session.get(), &GeneratorSession::linkChanged);
    QSignalSpy changed(session.get(), &GeneratorSession::channelChanged);

    generatorEnd->hangUp();
    QTRY_COMPARE_WITH_TIMEOUT(link.count(), 1, kWaitMs);
    QCOMPARE(link.first().first().toBool(), false);
    QCOMPARE(changed.count(), 1);
    QVERIFY(!session->channel(7));
    QCOMPARE(setPulse(*session, 7, 11, 22).status, SessionStatus::LinkDown);
    QCOMPARE(setPulse(*session, 7, 11, Optional()).status, SessionStatus::LinkDown);
}

void TestGeneratorSession::hangUpDuringExchange()
{
    session->setReplyTimeoutMs(1000);
    std::optional<SessionOutcome> outcome;
    session->save(kClient, [&outcome](const SessionOutcome &result) { outcome = result; });
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
    QCOMPARE(setPulse(discovering, 1, 22, Optional()).status, SessionStatus::OtherTimeUnknown);
    QCOMPARE(setPulse(discovering, 1, 22, 33).status, SessionStatus::Done);
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
    QCOMPARE(two.error(), QStringLiteral("2 generators found: ttyACM0, ttyACM3 (serial number "
                                         "4A5B); name the port to use"));
}

QTEST_GUILESS_MAIN(TestGeneratorSession)
#include "tst_generatorsession.moc"
