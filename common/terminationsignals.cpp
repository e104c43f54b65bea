#include "common/terminationsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalSocket[2] = {-1, -1};
constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t terminationSignals()
{
    sigset_t termination;
    sigemptyset(&termination);
    for (const int signal : kTerminationSignals)
        sigaddset(&termination, signal);
    return termination;
}

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalSocket[0], &byte, 1);
}

} // namespace

bool quitOnTerminationSignals(QCoreApplication &app)
{
    // A signal handler may only write to a descriptor; the event loop reads it.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSocket) != 0)
        return false;
    auto *notifier = new QSocketNotifier(signalSocket[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] { app.exit(0); });

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kTerminationSignals) {
        if (sigaction(signal, &action, nullptr) != 0)
            return false;
    }
    return true;
}

bool blockTerminationSignals()
{
    const sigset_t termination = terminationSignals();
    return pthread_sigmask(SIG_BLOCK, &termination, nullptr) == 0;
}

bool unblockTerminationSignals()
{
    const sigset_t termination = terminationSignals();
    return pthread_sigmask(SIG_UNBLOCK, &termination, nullptr) == 0;
}

bool ignoreBrokenPipes()
{
    return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}
