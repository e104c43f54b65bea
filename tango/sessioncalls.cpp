#include "tango/sessioncalls.h"

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

SessionOutcome SessionCalls::setPulse(int channel, std::optional<int> delaySteps,
                                      std::optional<int> widthSteps)
{
    return await([&](GeneratorSession::Completion done) {
        session->setPulse(channel, delaySteps, widthSteps, std::move(done));
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
    std::optional<PulseSteps> steps;
    onQtThread([&] { steps = session->channel(channel); });
    return steps;
}

LinkView SessionCalls::link() const
{
    LinkView view;
    onQtThread([&] { view = {session->isLinkUp(), session->portName(), session->linkProblem()}; });
    return view;
}
