#ifndef GENERATORLOCK_H
#define GENERATORLOCK_H

#include <QList>
#include <QObject>
#include <QString>

#include <utility>

class LockHolder;

// The daemon's one lock on the generator, whatever the protocol of its
// clients. One client may hold it exclusively (a raw socket, a VXI-11 link,
// a HiSLIP session); HiSLIP sessions may instead share it, all with the same
// lock string, and one holder may hold it both ways. While anyone holds it,
// no client outside the holders sends anything to the generator; what the
// daemon knows can still be read by everyone.
class GeneratorLock : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Exclusively: granted when nobody else holds it in any way.
    bool take(const LockHolder &holder);
    // Shared under `key`: granted when nobody else holds it exclusively and
    // whoever shares it does so under the same key.
    bool takeShared(const LockHolder &holder, const QString &key);
    // Gives back the holder's exclusive lock, or else its shared one; false
    // when it held neither.
    bool release(const LockHolder &holder);
    // Whether the holder is kept out: someone else holds it exclusively, or
    // others share it without the holder.
    bool isHeldByOtherThan(const LockHolder &holder) const;
    // Who holds it, "A" or "A and B" for those who share it; empty when free.
    QString ownerName() const;

    bool holdsExclusive(const LockHolder &holder) const { return exclusive == &holder; }
    bool holdsShared(const LockHolder &holder) const { return shared.contains(&holder); }
    // The key it is shared under, empty while nobody shares it.
    const QString &sharedKey() const { return key; }
    bool isHeldExclusively() const { return exclusive != nullptr; }
    // The clients that hold it, in either way.
    int holderCount() const;

signals:
    // Someone gave it back, or some of it: others may get it now.
    void released();

private:
    friend class LockHolder;
    void releaseAll(const LockHolder &holder);

    const LockHolder *exclusive = nullptr;
    QList<const LockHolder *> shared;
    QString key;
};

// A client that may hold the lock, named for people ("VXI-11 link 3 from
// 127.0.0.1"). What it holds is released when it goes.
class LockHolder
{
public:
    LockHolder(GeneratorLock &lock, QString name) :
        generatorLock(lock),
        holderName(std::move(name))
    {}
    ~LockHolder() { generatorLock.releaseAll(*this); }
    LockHolder(const LockHolder &) = delete;
    LockHolder &operator=(const LockHolder &) = delete;

    GeneratorLock &lock() const { return generatorLock; }
    const QString &name() const { return holderName; }

private:
    GeneratorLock &generatorLock;
    const QString holderName;
};

#endif // GENERATORLOCK_H
