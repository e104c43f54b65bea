#include "hislip/hislipmessage.h"

#include <QtEndian>

std::optional<HislipHeader> decodeHislipHeader(const char *bytes)
{
    if (bytes[0] != 'H' || bytes[1] != 'S')
        return std::nullopt;
    HislipHeader header;
    header.type = quint8(bytes[2]);
    header.control = quint8(bytes[3]);
    header.parameter = qFromBigEndian<quint32>(bytes + 4);
    header.payloadLength = qFromBigEndian<quint64>(bytes + 8);
    return header;
}

QByteArray hislipMessage(HislipType type, quint8 control, quint32 parameter,
                         const QByteArray &payload)
{
    QByteArray message(kHislipHeaderBytes, Qt::Uninitialized);
    message[0] = 'H';
    message[1] = 'S';
    message[2] = char(type);
    message[3] = char(control);
    qToBigEndian(parameter, message.data() + 4);
    qToBigEndian(quint64(payload.size()), message.data() + 8);
    return message + payload;
}
