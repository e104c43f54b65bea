#ifndef AVAHIQTPOLL_H
#define AVAHIQTPOLL_H

#include <avahi-common/watch.h>

#include <QObject>

// Avahi's client library on Qt's event loop: the AvahiPoll it takes, whose
// watches are socket notifiers and whose timeouts are timers on this
// object's thread. Watches and timeouts still alive go with this object,
// which must outlive every Avahi client that uses it.
class AvahiQtPoll : public QObject
{
    Q_OBJECT

public:
    explicit AvahiQtPoll(QObject *parent = nullptr);

    const AvahiPoll *api() const { return &poll; }

private:
    AvahiPoll poll{};
};

#endif // AVAHIQTPOLL_H
