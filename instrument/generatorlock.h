#ifndef GENERATORLOCK_H
#define GENERATORLOCK_H

#include <QObject>
#include <QString>

#include <utility>

class LockHolder;

// The daemon's one exclusive lock on the generator. While a client holds it,
// no other client's command sends anything to the generator; what the
// daemon knows can still be read by everyone.
class GeneratorLock : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Granted when free or already the holder's.
    bool take(const LockHolder &holder);
    // False when the holder did not hold it.
    bool release(const LockHolder &holder);
    bool isHeldByOtherThan(const LockHolder &holder) const;
    // The holder's name, or empty when nobody holds it.
    QString ownerName() const;

signals:
    void released();

private:
    const LockHolder *owner = nullptr;
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
    ~LockHolder() { generatorLock.release(*this); }
    LockHolder(const LockHolder &) = delete;
    LockHolder &operator=(const LockHolder &) = delete;

    GeneratorLock &lock() const { return generatorLock; }
    const QString &name() const { return holderName; }

private:
    GeneratorLock &generatorLock;
    const QString holderName;
};

#endif // GENERATORLOCK_H
