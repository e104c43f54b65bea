#ifndef CLIENTSLOTS_H
#define CLIENTSLOTS_H

#include <QObject>

// The clients the daemon serves at once, whatever their protocol (a raw
// socket, a VXI-11 link): at most `limit`.
class ClientSlots : public QObject
{
    Q_OBJECT

public:
    explicit ClientSlots(int limit, QObject *parent = nullptr) :
        QObject(parent),
        most(limit)
    {}

    // False when every slot is taken.
    bool take();
    void give();
    int limit() const { return most; }

signals:
    // A slot and the descriptors its client held are free again.
    void freed();

private:
    const int most;
    int taken = 0;
};

#endif // CLIENTSLOTS_H
