#include "commandframes.h"

QString buildSetCommand(int channel, int delaySteps, int widthSteps)
{
    const QChar zero = u'0';
    return QStringLiteral("%1%2%3")
            .arg(channel, 2, 10, zero)
            .arg(delaySteps, 3, 10, zero)
            .arg(widthSteps, 3, 10, zero);
}
