#include "device/portdiscovery.h"

#include <QTest>

using PortList = QList<PortDescription>;
Q_DECLARE_METATYPE(PortDescription)

class TestPortDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void generatorPorts_data();
    void generatorPorts();
};

static PortDescription port(const char *name, quint16 vendorId, quint16 productId)
{
    return {QString::fromLatin1(name), QStringLiteral("/dev/") + QLatin1String(name), vendorId,
            productId};
}

void TestPortDiscovery::generatorPorts_data()
{
    QTest::addColumn<PortList>("ports");
    QTest::addColumn<QStringList>("found");

    const PortDescription generator = port("ttyACM0", 0x0483, 0x5740);
    const PortDescription secondGenerator = port("ttyACM3", 0x0483, 0x5740);
    const PortDescription builtIn = port("ttyS0", 0, 0);
    const PortDescription otherProduct = port("ttyACM1", 0x0483, 0x5741);
    const PortDescription otherVendor = port("ttyUSB0", 0x0403, 0x5740);
    const PortDescription productOnly = port("ttyACM2", 0, 0x5740);

    QTest::newRow("no ports") << PortList{} << QStringList{};
    QTest::newRow("one generator") << PortList{generator} << QStringList{"ttyACM0"};
    QTest::newRow("port without USB ids") << PortList{builtIn} << QStringList{};
    QTest::newRow("same vendor, other product") << PortList{otherProduct} << QStringList{};
    QTest::newRow("other vendor, same product") << PortList{otherVendor} << QStringList{};
    QTest::newRow("product id without vendor id") << PortList{productOnly} << QStringList{};
    QTest::newRow("generator among others")
            << PortList{builtIn, otherVendor, generator, otherProduct} << QStringList{"ttyACM0"};
    QTest::newRow("two generators keep the system's order")
            << PortList{secondGenerator, builtIn, generator} << QStringList{"ttyACM3", "ttyACM0"};
    QTest::newRow("a name listed twice stays twice")
            << PortList{generator, generator} << QStringList{"ttyACM0", "ttyACM0"};
}

void TestPortDiscovery::generatorPorts()
{
    QFETCH(PortList, ports);
    QFETCH(QStringList, found);

    QStringList names;
    for (const PortDescription &generator : ::generatorPorts(ports))
        names.append(generator.portName);
    QCOMPARE(names, found);
}

QTEST_APPLESS_MAIN(TestPortDiscovery)
#include "tst_portdiscovery.moc"
