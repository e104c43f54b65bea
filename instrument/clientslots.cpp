#include "instrument/clientslots.h"

bool ClientSlots::take()
{
    if (taken >= most)
        return false;
    ++taken;
    return true;
}

void ClientSlots::give()
{
    --taken;
    emit freed();
}
