#include "common/escapedbytes.h"

QByteArray escapedBytes(const QByteArray &bytes)
{
    QByteArray text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        if (byte == '\\')
            text += "\\\\";
        else if (byte == '\r')
            text += "\\r";
        else if (byte == '\n')
            text += "\\n";
        else if (byte == '\t')
            text += "\\t";
        else if (value >= 0x20 && value < 0x7f)
            text += byte;
        else
            text += "\\x" + QByteArray::number(value, 16).rightJustified(2, '0');
    }
    return text;
}
