#ifndef SESSIONCALLS_H
#define SESSIONCALLS_H

#include "session/generatorsession.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

// What a device server shows of the link.
struct LinkView
{
    bool up = false;
    QString portName; // empty while no generator is found
    QString problem;  // why it is down
};

// A GeneratorSession driven from Tango's ORB threads. Every call runs on
// the Qt thread through a blocking queued invocation and, for commands,
// then waits on the calling thread for the session's outcome: the Qt
// thread never waits for Tango. Never call these from the Qt thread but
// for open() and the destructor.
class SessionCalls
{
public:
    // Makes and starts the session on the Qt thread.
    static std::unique_ptr<SessionCalls> open(const QString &port, int replyTimeoutMs);
    ~SessionCalls();
    SessionCalls(const SessionCalls &) = delete;
    SessionCalls &operator=(const SessionCalls &) = delete;

    SessionOutcome setPulse(int channel, std::optional<int> delaySteps,
                            std::optional<int> widthSteps);
    SessionOutcome save();
    SessionOutcome resetChannels();

    std::optional<PulseSteps> channel(int channel) const;
    LinkView link() const;

    // Runs `work` on the Qt thread and returns when it is done.
    static void onQtThread(const std::function<void()> &work);

private:
    explicit SessionCalls(GeneratorSession *session) :
        session(session)
    {}

    SessionOutcome await(const std::function<void(GeneratorSession::Completion)> &queue) const;

    GeneratorSession *session;
};

#endif // SESSIONCALLS_H
