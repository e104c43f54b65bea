#include "device/commandframes.h"

namespace {

// Left-padded with "0"; a longer number is kept whole.
QByteArray padded(int number, int width)
{
    return QByteArray::number(number).rightJustified(width, '0');
}

} // namespace

QByteArray buildSetCommand(int channel, int delaySteps, int widthSteps)
{
    return padded(channel, 2) + padded(delaySteps, 3) + padded(widthSteps, 3);
}

bool isRefusal(const QByteArray &reply)
{
    return reply.startsWith("ERR");
}
