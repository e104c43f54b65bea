#include "instrument/generatorlock.h"

#include <QStringList>

bool GeneratorLock::take(const LockHolder &holder)
{
    const bool othersShare = !shared.isEmpty() && shared != QList<const LockHolder *>{&holder};
    if ((exclusive && exclusive != &holder) || othersShare)
        return false;
    exclusive = &holder;
    return true;
}

bool GeneratorLock::takeShared(const LockHolder &holder, const QString &lockKey)
{
    if ((exclusive && exclusive != &holder) || (!shared.isEmpty() && key != lockKey))
        return false;
    if (!shared.contains(&holder))
        shared.append(&holder);
    key = lockKey;
    return true;
}

bool GeneratorLock::release(const LockHolder &holder)
{
    if (exclusive == &holder) {
        exclusive = nullptr;
    } else if (shared.removeOne(&holder)) {
        if (shared.isEmpty())
            key.clear();
    } else {
        return false;
    }
    emit released();
    return true;
}

void GeneratorLock::releaseAll(const LockHolder &holder)
{
    while (release(holder)) {
    }
}

bool GeneratorLock::isHeldByOtherThan(const LockHolder &holder) const
{
    return (exclusive && exclusive != &holder) || (!shared.isEmpty() && !holdsShared(holder));
}

QString GeneratorLock::ownerName() const
{
    if (exclusive)
        return exclusive->name();
    QStringList names;
    for (const LockHolder *holder : shared)
        names.append(holder->name());
    return names.join(QStringLiteral(" and "));
}

int GeneratorLock::holderCount() const
{
    const bool exclusiveAlsoShares = exclusive && holdsShared(*exclusive);
    return int(shared.size()) + (exclusive && !exclusiveAlsoShares ? 1 : 0);
}
