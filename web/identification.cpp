#include "web/identification.h"

#include <QXmlStreamWriter>

QByteArray identificationDocument(const GeneratorStatus &status, const QString &homepage)
{
    const ServedInstrument &instrument = status.instrument;
    QByteArray document;
    QXmlStreamWriter xml(&document);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(
            QStringLiteral("http://www.lxistandard.org/InstrumentIdentification/1.0"));
    xml.writeStartElement(QStringLiteral("LXIDevice"));
    xml.writeTextElement(QStringLiteral("Manufacturer"), instrument.manufacturer);
    xml.writeTextElement(QStringLiteral("Model"), instrument.model);
    xml.writeTextElement(QStringLiteral("SerialNumber"), status.serialNumber);
    xml.writeTextElement(QStringLiteral("FirmwareRevision"), instrument.version);
    xml.writeTextElement(QStringLiteral("ManufacturerDescription"),
                         QStringLiteral("16-channel picosecond pulse generator"));
    xml.writeTextElement(QStringLiteral("HomepageURL"), homepage);
    xml.writeStartElement(QStringLiteral("Interface"));
    xml.writeAttribute(QStringLiteral("InterfaceName"), QStringLiteral("network"));
    for (const QString &resource : status.resources)
        xml.writeTextElement(QStringLiteral("InstrumentAddressString"), resource);
    xml.writeEndElement();
    xml.writeEndDocument();
    return document;
}
