#include "tango/eventqueue.h"

EventQueue::EventQueue()
{
    // One thread: in the order the changes happened.
    pushing.setMaxThreadCount(1);
}

void EventQueue::add(std::function<void()> push)
{
    const std::lock_guard<std::mutex> guard(lock);
    if (!stopped)
        pushing.start(std::move(push));
}

void EventQueue::stop()
{
    {
        const std::lock_guard<std::mutex> guard(lock);
        stopped = true;
        pushing.clear();
    }
    pushing.waitForDone();
}
