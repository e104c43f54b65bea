#ifndef EVENTQUEUE_H
#define EVENTQUEUE_H

#include <QThreadPool>

#include <functional>
#include <mutex>

// Runs a device's event pushes in order on a thread of their own. The
// session reports its changes on the Qt thread, which must not wait for the
// device's monitor: ORB threads hold it while they wait for the Qt thread.
class EventQueue
{
public:
    EventQueue();

    // Any thread; never waits for a push. Dropped once stopped.
    void add(std::function<void()> push);
    // Drops the pushes not begun and waits for the one running.
    void stop();

private:
    std::mutex lock;
    bool stopped = false;
    QThreadPool pushing;
};

#endif // EVENTQUEUE_H
