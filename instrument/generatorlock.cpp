#include "instrument/generatorlock.h"

bool GeneratorLock::take(const LockHolder &holder)
{
    if (owner && owner != &holder)
        return false;
    owner = &holder;
    return true;
}

bool GeneratorLock::release(const LockHolder &holder)
{
    if (owner != &holder)
        return false;
    owner = nullptr;
    emit released();
    return true;
}

bool GeneratorLock::isHeldByOtherThan(const LockHolder &holder) const
{
    return owner && owner != &holder;
}

QString GeneratorLock::ownerName() const
{
    return owner ? owner->name() : QString();
}
