#include "device/commandframes.h"

namespace {

// Left-padded with "0"; a longer number is kept whole.
QString padded(int number, int width)
{
    return QString::number(number).rightJustified(width, u'0');
}

} // namespace

QString buildSetCommand(int channel, int delaySteps, int widthSteps)
{
    return padded(channel, 2) + padded(delaySteps, 3) + padded(widthSteps, 3);
}
