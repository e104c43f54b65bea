#include "session/generatorsession.h"
#include "instrument/generatorlock.h"
#include "web/generatorstatus.h"
#include "web/identification.h"
#include "web/statuspage.h"

#include <QTest>
#include <QXmlStreamReader>

namespace {

GeneratorStatus sampleStatus()
{
    GeneratorStatus status;
    status.instrument = {"Kestrane", "kestrane-scpid", "1.0.0", 5025, false, {}};
    status.serialNumber = "A1";
    status.port = "/dev/ttyACM0";
    status.linkProblem = "the generator hung up";
    status.resources = {"TCPIP::127.0.0.1::5025::SOCKET"};
    status.channels.front() = PulseSteps{91, 182};
    status.channels.back() = PulseSteps{511, 0};
    return status;
}

// The texts of every element with this name.
QStringList elementTexts(const QByteArray &xml, const QString &name)
{
    QStringList texts;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == name)
            texts.append(reader.readElementText());
    }
    return reader.hasError() ? QStringList{"(malformed: " + reader.errorString() + ')'} : texts;
}

} // namespace

class TestWebDocuments : public QObject
{
    Q_OBJECT

private slots:
    void jsonNamesEveryField();
    void resourcesNameTheAddressReached_data();
    void resourcesNameTheAddressReached();
    void pageShowsTextAsText_data();
    void pageShowsTextAsText();
    void identificationListsTheResources();
};

// The documented format, byte for byte.
void TestWebDocuments::jsonNamesEveryField()
{
    GeneratorStatus status = sampleStatus();
    status.labels.front() = QStringLiteral("pump \"1\"");
    status.recordKept = true;
    status.setups = QStringList{QStringLiteral("scan")};
    JournalEntry entry;
    entry.timeMs = 1796770564624;
    entry.program = QStringLiteral("kestrane-scpid");
    entry.client = QStringLiteral("socket 127.0.0.1:1 connection 1");
    entry.frame = QStringLiteral("SAV");
    entry.reply = QStringLiteral("OK\\r\\n");
    entry.outcome = FrameOutcome::Ok;
    status.journal = {entry};
    const QByteArray json = statusJson(status);
    QString unknownChannels;
    for (int channel = 2; channel < kChannelCount; ++channel)
        unknownChannels
                += QStringLiteral(
                           "{\"channel\":%1,\"delayPs\":null,\"label\":\"\",\"widthPs\":null},")
                           .arg(channel);
    QCOMPARE(json,
             QStringLiteral("{\"channels\":[{\"channel\":1,\"delayPs\":1001,"
                            "\"label\":\"pump \\\"1\\\"\",\"widthPs\":2002},%1"
                            "{\"channel\":16,\"delayPs\":5621,\"label\":\"\",\"widthPs\":0}],"
                            "\"journal\":[{\"channel\":null,\"client\":\"socket 127.0.0.1:1 "
                            "connection 1\",\"delayPs\":null,\"frame\":\"SAV\",\"outcome\":\"ok\","
                            "\"program\":\"kestrane-scpid\",\"reply\":\"OK\\\\r\\\\n\","
                            "\"time\":\"2026-12-08T22:56:04.624Z\",\"widthPs\":null}],"
                            "\"link\":{\"problem\":\"the generator hung up\",\"up\":false},"
                            "\"lockOwner\":null,"
                            "\"manufacturer\":\"Kestrane\",\"model\":\"kestrane-scpid\","
                            "\"port\":\"/dev/ttyACM0\","
                            "\"record\":{\"kept\":true,\"problem\":\"\"},"
                            "\"resources\":[\"TCPIP::127.0.0.1::5025::SOCKET\"],"
                            "\"serialNumber\":\"A1\",\"setups\":[\"scan\"],\"version\":\"1.0.0\"}")
                     .arg(unknownChannels)
                     .toUtf8());
}

void TestWebDocuments::resourcesNameTheAddressReached_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("vxi11");
    QTest::addColumn<QString>("hislipDevice");
    QTest::addColumn<QStringList>("resources");

    QTest::newRow("IPv4") << "192.0.2.10" << false << QString()
                          << QStringList{"TCPIP::192.0.2.10::5025::SOCKET"};
    QTest::newRow("IPv4 through an IPv6 socket") << "::ffff:127.0.0.1" << false << QString()
                                                 << QStringList{"TCPIP::127.0.0.1::5025::SOCKET"};
    QTest::newRow("IPv6, VXI-11 and HiSLIP served")
            << "::1" << true << "hislip0"
            << QStringList{"TCPIP::[::1]::5025::SOCKET", "TCPIP::[::1]::inst0::INSTR",
                           "TCPIP::[::1]::hislip0::INSTR"};
    QTest::newRow("HiSLIP on another port")
            << "192.0.2.10" << false << "hislip0,4881"
            << QStringList{"TCPIP::192.0.2.10::5025::SOCKET",
                           "TCPIP::192.0.2.10::hislip0,4881::INSTR"};
}

void TestWebDocuments::resourcesNameTheAddressReached()
{
    QFETCH(QString, address);
    QFETCH(bool, vxi11);
    QFETCH(QString, hislipDevice);
    QFETCH(QStringList, resources);

    GeneratorSession session(QStringLiteral("/dev/null"), [] { return QList<PortDescription>{}; });
    const ServedInstrument instrument{"Kestrane", "kestrane-scpid", "1.0.0", 5025,
                                      vxi11,      hislipDevice};
    const GeneratorLock lock;
    const GeneratorStatus status
            = readGeneratorStatus(session, lock, instrument, QHostAddress(address));
    QCOMPARE(status.resources, resources);
    QVERIFY(!status.linkUp);
}

void TestWebDocuments::pageShowsTextAsText_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("serialNumber");
    QTest::addColumn<QString>("linkProblem");
    QTest::addColumn<QByteArrayList>("shown");

    QTest::newRow("markup in the port")
            << "/tmp/<script>alert(1)</script>"
            << "A1"
            << "gone"
            << QByteArrayList{R"(<dd id="port" data-empty="none found yet">)"
                              "/tmp/&lt;script&gt;alert(1)&lt;/script&gt;</dd>"};
    QTest::newRow("quotes and ampersands")
            << "/dev/\"a\"&b"
            << "x\"><img src=y>"
            << "<b>lost</b>"
            << QByteArrayList{"/dev/&quot;a&quot;&amp;b", "x&quot;&gt;&lt;img src=y&gt;",
                              R"(<span id="link-problem">&lt;b&gt;lost&lt;/b&gt;</span>)"};
    QTest::newRow("nothing known")
            << ""
            << ""
            << "no generator attached"
            << QByteArrayList{R"(<dd id="serial" data-empty="not known">not known</dd>)",
                              R"(<dd id="port" data-empty="none found yet">none found yet</dd>)",
                              R"(<span id="link" class="down">down</span>)"};
}

// Whatever a port, serial number or reason holds, the page shows it as text
// and runs no script of its own making.
void TestWebDocuments::pageShowsTextAsText()
{
    QFETCH(QString, port);
    QFETCH(QString, serialNumber);
    QFETCH(QString, linkProblem);
    QFETCH(QByteArrayList, shown);

    GeneratorStatus status = sampleStatus();
    status.port = port;
    status.serialNumber = serialNumber;
    status.linkProblem = linkProblem;
    status.labels[0] = QStringLiteral("<script>alert(1)</script>");
    status.setups = QStringList{QStringLiteral("<img src=x>")};
    const QByteArray page = statusPage(status);
    for (const QByteArray &text : shown)
        QVERIFY2(page.contains(text), text.constData());
    QCOMPARE(page.count("<script"), 1);
    QCOMPARE(page.count("<img"), 0);
    QVERIFY(page.contains("<tr><th>1</th><td class=\"label\">&lt;script&gt;alert(1)&lt;/script&gt;"
                          "</td><td>1001</td><td>2002</td></tr>"));
    QVERIFY(page.contains("<tr class=\"unknown\"><th>2</th><td class=\"label\"></td>"
                          "<td>unknown</td><td>unknown</td></tr>"));
    QVERIFY(page.contains("<li>&lt;img src=x&gt;</li>"));
    QVERIFY(page.contains(renderTimingDiagram(status.channels, status.labels)));
}

void TestWebDocuments::identificationListsTheResources()
{
    GeneratorStatus status = sampleStatus();
    status.serialNumber = "<&>";
    status.resources.append("TCPIP::127.0.0.1::inst0::INSTR");
    const QByteArray document = identificationDocument(status, "http://127.0.0.1:8080/");
    QVERIFY(document.contains(
            "<LXIDevice xmlns=\"http://www.lxistandard.org/InstrumentIdentification/1.0\">"));
    QCOMPARE(elementTexts(document, "InstrumentAddressString"), status.resources);
    QCOMPARE(elementTexts(document, "SerialNumber"), QStringList{"<&>"});
    QCOMPARE(elementTexts(document, "Manufacturer"), QStringList{"Kestrane"});
    QCOMPARE(elementTexts(document, "FirmwareRevision"), QStringList{"1.0.0"});
    QCOMPARE(elementTexts(document, "HomepageURL"), QStringList{"http://127.0.0.1:8080/"});
}

QTEST_GUILESS_MAIN(TestWebDocuments)
#include "tst_webdocuments.moc"
