#include "session/sessioncalls.h"

#include <QCoreApplication>
#include <QThread>

#include <future>

std::unique_ptr<SessionCalls> SessionCalls::open(const QString &port, int replyTimeoutMs)
{
    GeneratorSession *session = nullptr;
    onQtThread([&] {
        session = new GeneratorSession(port);
        session->setReplyTimeoutMs(replyTimeoutMs);
        session->start();
    });
    return std::unique_ptr<SessionCalls>(new SessionCalls(session));
}

SessionCalls::~SessionCalls()
{
    onQtThread([this] { delete session; });
}

void SessionCalls::onQtThread(const std::function<void()> &work)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (QThread::currentThread() == app->thread())
        work();
    else
        QMetaObject::invokeMethod(app, work, Qt::BlockingQueuedConnection);
}

SessionOutcome SessionCalls::await(
        const std::function<void(GeneratorSession::Completion)> &queue) const
{
    // Shared: the session may still answer after the server began to shut
    // down and this caller's frame is gone.
    auto outcome = std::make_shared<std::promise<SessionOutcome>>();
    std::future<SessionOutcome> result = outcome->get_future();
    onQtThread([&] { queue([outcome](const SessionOutcome &done) { outcome->set_value(done); }); });
    return result.get();
}

SessionOutcome SessionCalls::setPulse(int channel, std::optional<double> delayPs,
                                      std::optional<double> widthPs)
{
    return await([&](GeneratorSession::Completion done) {
        session->setPulse(channel, delayPs, widthPs, std::move(done));
    });
}

SessionOutcome SessionCalls::save()
{
    return await([this](GeneratorSession::Completion done) { session->save(std::move(done)); });
}

SessionOutcome SessionCalls::resetChannels()
{
    return await(
            [this](GeneratorSession::Completion done) { session->resetChannels(std::move(done)); });
}

std::optional<PulseSteps> SessionCalls::channel(int channel) const
{
    auto steps = std::make_shared<std::promise<std::optional<PulseSteps>>>();
    std::future<std::optional<PulseSteps>> result = steps->get_future();
    onQtThread([&] {
        GeneratorSession *reading = session;
        reading->afterPending([steps, reading, channel](const SessionOutcome &outcome) {
            steps->set_value(outcome.status == SessionStatus::Done ? reading->channel(channel)
                                                                   : std::nullopt);
        });
    });
    return result.get();
}

LinkView SessionCalls::link() const
{
    LinkView view;
    onQtThread([&] { view = {session->isLinkUp(), session->portName(), session->linkProblem()}; });
    return view;
}
