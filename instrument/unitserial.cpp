#include "instrument/unitserial.h"

#include "session/generatorsession.h"

QString unitSerialNumber(const GeneratorSession &session)
{
    QString serial = session.serialNumber();
    if (serial.isEmpty())
        return QStringLiteral("0");
    return serial.replace(u',', u'_').replace(u';', u'_');
}
