#include "session/sessioncalls.h"

#include "tests/support/pseudoterminal.h"

#include <QTest>
#include <QTimer>

#include <future>
#include <thread>

namespace {

// Runs `call` on a thread of its own, detached: a call that never returns
// fails the test instead of hanging it.
template<typename Call>
auto onOtherThread(Call call)
{
    auto answer = std::make_shared<std::promise<decltype(call())>>();
    auto result = answer->get_future();
    std::thread([answer, call] { answer->set_value(call()); }).detach();
    return result;
}

} // namespace

class TestSessionCalls : public QObject
{
    Q_OBJECT

private slots:
    void theLoopsEndAnswersEveryCaller();
};

void TestSessionCalls::theLoopsEndAnswersEveryCaller()
{
    PseudoTerminal generator;
    SessionCalls calls(QStringLiteral("test"), generator.devicePath(), 5000);
    // Served while the loop runs: sent, then waiting for a reply that never comes.
    auto waiting = onOtherThread([&] { return calls.save(); });
    QByteArray sent;
    QVERIFY(QTest::qWaitFor([&] { return (sent += generator.readPending()) == "SAV"; }, 2000));

    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    // Nothing serves the calls now: each is answered at once.
    QCOMPARE(waiting.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    QCOMPARE(waiting.get().status, SessionStatus::LinkDown);
    auto later = onOtherThread([&] {
        return calls.setPulse(1, 0, 0).status == SessionStatus::LinkDown && !calls.channel(1)
               && !calls.link().up;
    });
    QCOMPARE(later.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    QVERIFY(later.get());
}

QTEST_GUILESS_MAIN(TestSessionCalls)
#include "tst_sessioncalls.moc"
