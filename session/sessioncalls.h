#ifndef SESSIONCALLS_H
#define SESSIONCALLS_H

#include "session/generatorsession.h"

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

// A GeneratorSession for front ends whose requests arrive on threads of
// their own (a Tango device server's ORB threads). Every call crosses to the
// Qt thread through a blocking queued invocation and, for commands and
// channel reads, then waits on the calling thread for the session's answer:
// the Qt thread never waits for anyone. Never call these from the Qt thread
// but for open() and the destructor.
class SessionCalls
{
public:
    // Makes and starts the session on the Qt thread.
    static std::unique_ptr<SessionCalls> open(const QString &port, int replyTimeoutMs);
    // Ends the session on the Qt thread; whatever it still had queued is
    // answered LinkDown.
    ~SessionCalls();
    SessionCalls(const SessionCalls &) = delete;
    SessionCalls &operator=(const SessionCalls &) = delete;

    SessionOutcome setPulse(int channel, std::optional<double> delayPs,
                            std::optional<double> widthPs);
    SessionOutcome save();
    SessionOutcome resetChannels();

    // What the session knows once every command queued before is answered.
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
