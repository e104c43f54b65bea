#include "session/sessioncalls.h"

#include <QCoreApplication>
#include <QThread>

#include <future>
#include <mutex>
#include <utility>

namespace {

SessionOutcome ended()
{
    return {SessionStatus::LinkDown, QStringLiteral("the session ended")};
}

// The Qt thread's end of every SessionCalls: work from other threads is
// queued to this object and the sessions are its children, so that
// deleting it when the event loop ends drops the one and ends the other.
std::mutex servingLock;
QObject *serving = nullptr;
bool servingEnded = false;

void endServing()
{
    QObject *ending = nullptr;
    {
        const std::lock_guard<std::mutex> guard(servingLock);
        servingEnded = true;
        ending = std::exchange(serving, nullptr);
    }
    delete ending;
}

// With servingLock held: null once the Qt thread serves no more.
QObject *servingObject()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (serving == nullptr && !servingEnded && app != nullptr) {
        serving = new QObject;
        serving->moveToThread(app->thread());
        QObject::connect(app, &QCoreApplication::aboutToQuit, app, &endServing);
        QObject::connect(app, &QObject::destroyed, &endServing);
    }
    return serving;
}

bool isQtThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

// Runs `work` on the Qt thread: at once when called there, else queued.
// Work the Qt thread will not run is destroyed unrun.
void toQtThread(std::function<void()> work)
{
    if (isQtThread())
        return work();
    const std::lock_guard<std::mutex> guard(servingLock);
    if (QObject *target = servingObject())
        QMetaObject::invokeMethod(target, std::move(work), Qt::QueuedConnection);
}

// Runs `work` on the Qt thread and returns once it is done; false when the
// Qt thread serves no more and it was never run.
bool onQtThread(const std::function<void()> &work)
{
    struct Call
    {
        const std::function<void()> *work = nullptr;
        std::promise<bool> ran;
        bool done = false;
        Call() = default;
        Call(const Call &) = delete;
        Call &operator=(const Call &) = delete;
        ~Call()
        {
            if (!done)
                ran.set_value(false);
        }
    };
    auto call = std::make_shared<Call>();
    call->work = &work;
    std::future<bool> ran = call->ran.get_future();
    toQtThread([call = std::move(call)] {
        (*call->work)();
        call->done = true;
        call->ran.set_value(true);
    });
    return ran.get();
}

} // namespace

LinkView linkViewOf(const GeneratorSession &session)
{
    return {session.isLinkUp(), session.portName(), session.linkProblem()};
}

SessionCalls::SessionCalls(QString client, const QString &port, int replyTimeoutMs,
                           const SetUp &setUp) :
    client(std::move(client)),
    session(std::make_shared<QPointer<GeneratorSession>>())
{
    toQtThread([made = session, port, replyTimeoutMs, setUp] {
        QObject *parent = nullptr;
        {
            const std::lock_guard<std::mutex> guard(servingLock);
            parent = servingObject();
        }
        if (parent == nullptr)
            return;
        auto *started = new GeneratorSession(port, systemPorts, parent);
        started->setReplyTimeoutMs(replyTimeoutMs);
        if (setUp)
            setUp(*started);
        *made = started;
        started->start();
    });
}

SessionCalls::~SessionCalls()
{
    toQtThread([made = session] { delete made->data(); });
}

SessionOutcome SessionCalls::await(const Queue &queue) const
{
    // Shared: the session may answer after this caller stopped waiting.
    auto outcome = std::make_shared<std::promise<SessionOutcome>>();
    std::future<SessionOutcome> result = outcome->get_future();
    const GeneratorSession::Completion done
            = [outcome](const SessionOutcome &answer) { outcome->set_value(answer); };
    const bool queued = onQtThread([&] {
        if (GeneratorSession *live = *session)
            queue(*live, done);
        else
            done(ended());
    });
    return queued ? result.get() : ended();
}

SessionOutcome SessionCalls::setPulse(int channel, std::optional<double> delayPs,
                                      std::optional<double> widthPs)
{
    return await([&](GeneratorSession &live, GeneratorSession::Completion done) {
        live.setPulse(client, channel, delayPs, widthPs, std::move(done));
    });
}

SessionOutcome SessionCalls::save()
{
    return await([this](GeneratorSession &live, GeneratorSession::Completion done) {
        live.save(client, std::move(done));
    });
}

SessionOutcome SessionCalls::resetChannels()
{
    return await([this](GeneratorSession &live, GeneratorSession::Completion done) {
        live.resetChannels(client, std::move(done));
    });
}

SessionOutcome SessionCalls::loadSetup(const QString &name)
{
    return await([&](GeneratorSession &live, GeneratorSession::Completion done) {
        live.loadSetup(client, name, std::move(done));
    });
}

void SessionCalls::whenSettled(const std::function<void(GeneratorSession *)> &read) const
{
    auto ran = std::make_shared<std::promise<void>>();
    std::future<void> finished = ran->get_future();
    const bool asked = onQtThread([&] {
        GeneratorSession *reading = *session;
        if (reading == nullptr) {
            read(nullptr);
            return ran->set_value();
        }
        reading->afterPending([ran, reading, &read](const SessionOutcome &outcome) {
            read(outcome.status == SessionStatus::Done ? reading : nullptr);
            ran->set_value();
        });
    });
    if (asked)
        finished.wait();
    else
        read(nullptr);
}

std::optional<PulseSteps> SessionCalls::channel(int channel) const
{
    std::optional<PulseSteps> steps;
    whenSettled([&](GeneratorSession *reading) {
        if (reading != nullptr)
            steps = reading->channel(channel);
    });
    return steps;
}

LinkView SessionCalls::link() const
{
    LinkView view{false, {}, ended().detail};
    onQtThread([&] {
        if (const GeneratorSession *live = *session)
            view = linkViewOf(*live);
    });
    return view;
}

template<typename T>
Result<T> SessionCalls::fromRecord(const std::function<Result<T>(GeneratorSession &)> &use) const
{
    Result<T> result = Failure{ended().detail};
    whenSettled([&](GeneratorSession *reading) {
        if (reading != nullptr)
            result = use(*reading);
    });
    return result;
}

Result<QString> SessionCalls::label(int channel) const
{
    return fromRecord<QString>(
            [channel](GeneratorSession &live) { return live.record().label(channel); });
}

Result<void> SessionCalls::setLabel(int channel, const QString &label)
{
    return fromRecord<void>(
            [&](GeneratorSession &live) { return live.record().setLabel(channel, label); });
}

Result<void> SessionCalls::storeSetup(const QString &name)
{
    return fromRecord<void>([&](GeneratorSession &live) { return live.storeSetup(name); });
}

Result<bool> SessionCalls::deleteSetup(const QString &name)
{
    return fromRecord<bool>(
            [&](GeneratorSession &live) { return live.record().deleteSetup(name); });
}

Result<QStringList> SessionCalls::setupNames() const
{
    return fromRecord<QStringList>(
            [](GeneratorSession &live) { return live.record().setupNames(); });
}

QString SessionCalls::recordProblem() const
{
    QString problem;
    onQtThread([&] {
        if (const GeneratorSession *live = *session)
            problem = live->record().problem();
    });
    return problem;
}
