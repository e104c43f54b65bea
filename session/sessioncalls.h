#ifndef SESSIONCALLS_H
#define SESSIONCALLS_H

#include "session/generatorsession.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// What a front end shows of the link.
struct LinkView
{
    bool up = false;
    QString portName; // empty while no generator is found
    QString problem;  // why it is down
};

LinkView linkViewOf(const GeneratorSession &session);

// A GeneratorSession for front ends whose requests arrive on threads of
// their own (a Tango device server's ORB threads). The session lives on the
// Qt thread (the QCoreApplication's), which never waits for anyone: commands
// and reads cross to it through a queued invocation and wait on the calling
// thread for the session's answer; making and ending a session wait for
// nothing. Never call the commands and reads from the Qt thread.
//
// The Qt thread serves these calls until its event loop ends
// (QCoreApplication::aboutToQuit). Every session ends then, and calls still
// waiting or made later are answered at once as after the end of a session
// (LinkDown, unknown channels, no link): no thread is left waiting for a Qt
// thread that serves no more.
class SessionCalls
{
public:
    // Runs on the Qt thread when the session is made, before it starts: where
    // a front end connects to its signals. It must not wait for other threads.
    using SetUp = std::function<void(GeneratorSession &session)>;

    // Makes and starts the session on the Qt thread: at once when called
    // there, else queued. Needs the QCoreApplication. `client` names the
    // front end in the record's journal; setUp is where it has the session
    // keep a record (GeneratorSession::keepRecord).
    SessionCalls(QString client, const QString &port, int replyTimeoutMs, const SetUp &setUp = {});
    // Ends the session the same way; whatever it still had queued is
    // answered LinkDown.
    ~SessionCalls();
    SessionCalls(const SessionCalls &) = delete;
    SessionCalls &operator=(const SessionCalls &) = delete;

    SessionOutcome setPulse(int channel, std::optional<double> delayPs,
                            std::optional<double> widthPs);
    SessionOutcome save();
    SessionOutcome resetChannels();
    SessionOutcome loadSetup(const QString &name);

    // What the session knows once every command queued before is answered.
    std::optional<PulseSteps> channel(int channel) const;
    LinkView link() const;

    // The record, once every command queued before is answered.
    Result<QString> label(int channel) const;
    Result<void> setLabel(int channel, const QString &label);
    Result<void> storeSetup(const QString &name);
    Result<bool> deleteSetup(const QString &name);
    Result<QStringList> setupNames() const;
    // Why the record does not work, or empty.
    QString recordProblem() const;

private:
    using Queue = std::function<void(GeneratorSession &, GeneratorSession::Completion)>;
    SessionOutcome await(const Queue &queue) const;
    // Runs `read` on the Qt thread once every command queued before is
    // answered, with the session or, once it has ended, null; returns once
    // it has run.
    void whenSettled(const std::function<void(GeneratorSession *)> &read) const;
    template<typename T>
    Result<T> fromRecord(const std::function<Result<T>(GeneratorSession &)> &use) const;

    const QString client;

    // Set and used on the Qt thread only; empty once the session has ended.
    std::shared_ptr<QPointer<GeneratorSession>> session;
};

#endif // SESSIONCALLS_H
