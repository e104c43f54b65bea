#include "device/linksettings.h"

#include <QSerialPort>

void applyLinkSettings(QSerialPort &port, const QString &portName)
{
    port.setPortName(portName);
    port.setBaudRate(kLinkBaudRate, QSerialPort::AllDirections);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setReadBufferSize(kReadBufferBytes);
}
