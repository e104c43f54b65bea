#include "mdns/avahiqtpoll.h"

#include <avahi-common/timeval.h>

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <limits>

// Freed watches and timeouts are switched off at once and deleted later:
// Avahi may free one from within its own callback.

struct AvahiWatch : QObject
{
    AvahiWatch(QObject *parent, int fd, AvahiWatchEvent events, AvahiWatchCallback callback,
               void *userdata) :
        QObject(parent),
        reading(new QSocketNotifier(fd, QSocketNotifier::Read, this)),
        writing(new QSocketNotifier(fd, QSocketNotifier::Write, this))
    {
        for (const auto &[notifier, event] :
             {std::pair(reading, AVAHI_WATCH_IN), std::pair(writing, AVAHI_WATCH_OUT)}) {
            QObject::connect(notifier, &QSocketNotifier::activated, this,
                             [this, fd, callback, userdata, event = event] {
                                 happened = event;
                                 callback(this, fd, event, userdata);
                                 happened = AvahiWatchEvent(0);
                             });
        }
        watchFor(events);
    }

    void watchFor(AvahiWatchEvent events) const
    {
        reading->setEnabled(events & AVAHI_WATCH_IN);
        writing->setEnabled(events & AVAHI_WATCH_OUT);
    }

    QSocketNotifier *reading;
    QSocketNotifier *writing;
    AvahiWatchEvent happened = AvahiWatchEvent(0);
};

struct AvahiTimeout : QObject
{
    AvahiTimeout(QObject *parent, const timeval *when, AvahiTimeoutCallback callback,
                 void *userdata) :
        QObject(parent),
        timer(new QTimer(this))
    {
        timer->setSingleShot(true);
        QObject::connect(timer, &QTimer::timeout, this,
                         [this, callback, userdata] { callback(this, userdata); });
        setFor(when);
    }

    void setFor(const timeval *when) const
    {
        if (!when)
            return timer->stop();
        // avahi_age() is how long ago `when` was, in µs: negative until then.
        timer->start(int(std::clamp<AvahiUsec>(-avahi_age(when) / 1000, 0,
                                               std::numeric_limits<int>::max())));
    }

    QTimer *timer;
};

AvahiQtPoll::AvahiQtPoll(QObject *parent) :
    QObject(parent)
{
    poll.userdata = this;
    poll.watch_new = [](const AvahiPoll *api, int fd, AvahiWatchEvent events,
                        AvahiWatchCallback callback, void *userdata) {
        return new AvahiWatch(static_cast<QObject *>(api->userdata), fd, events, callback,
                              userdata);
    };
    poll.watch_update = [](AvahiWatch *watch, AvahiWatchEvent events) { watch->watchFor(events); };
    poll.watch_get_events = [](AvahiWatch *watch) { return watch->happened; };
    poll.watch_free = [](AvahiWatch *watch) {
        watch->watchFor(AvahiWatchEvent(0));
        watch->deleteLater();
    };
    poll.timeout_new = [](const AvahiPoll *api, const timeval *when, AvahiTimeoutCallback callback,
                          void *userdata) {
        return new AvahiTimeout(static_cast<QObject *>(api->userdata), when, callback, userdata);
    };
    poll.timeout_update = [](AvahiTimeout *timeout, const timeval *when) { timeout->setFor(when); };
    poll.timeout_free = [](AvahiTimeout *timeout) {
        timeout->setFor(nullptr);
        timeout->deleteLater();
    };
}
