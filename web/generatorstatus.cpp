#include "web/generatorstatus.h"

#include "instrument/generatorlock.h"
#include "instrument/unitserial.h"
#include "session/generatorrecord.h"
#include "session/generatorsession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

GeneratorStatus readGeneratorStatus(GeneratorSession &session, const GeneratorLock &lock,
                                    const ServedInstrument &instrument, const QHostAddress &host)
{
    GeneratorStatus status;
    status.instrument = instrument;
    status.serialNumber = unitSerialNumber(session);
    status.port = session.portName();
    status.linkUp = session.isLinkUp();
    if (!status.linkUp)
        status.linkProblem = session.linkProblem();
    status.lockOwner = lock.ownerName();
    const QString hostName = hostText(host);
    status.resources.append(QStringLiteral("TCPIP::%1::%2::SOCKET")
                                    .arg(hostName, QString::number(instrument.scpiPort)));
    if (instrument.vxi11)
        status.resources.append(QStringLiteral("TCPIP::%1::inst0::INSTR").arg(hostName));
    if (!instrument.hislipDevice.isEmpty())
        status.resources.append(
                QStringLiteral("TCPIP::%1::%2::INSTR").arg(hostName, instrument.hislipDevice));
    for (int channel = 1; channel <= kChannelCount; ++channel)
        status.channels[channel - 1] = session.channel(channel);
    // What the record cannot give is shown as missing; its problem says why.
    GeneratorRecord &record = session.record();
    status.recordKept = record.isKept();
    status.recordProblem = record.problem();
    if (const Result<std::array<QString, kChannelCount>> labels = record.labels())
        status.labels = labels.value();
    if (const Result<QStringList> setups = record.setupNames())
        status.setups = setups.value();
    if (const Result<QList<JournalEntry>> journal = record.recentJournal(kStatusJournalEntries))
        status.journal = journal.value();
    return status;
}

namespace {

QJsonArray entriesJson(const QList<JournalEntry> &entries)
{
    QJsonArray array;
    for (const JournalEntry &entry : entries)
        array.append(journalEntryJson(entry));
    return array;
}

} // namespace

QByteArray journalJson(GeneratorSession &session, int count)
{
    const Result<QList<JournalEntry>> journal = session.record().recentJournal(count);
    return QJsonDocument(entriesJson(journal ? journal.value() : QList<JournalEntry>()))
            .toJson(QJsonDocument::Compact);
}

QByteArray statusJson(const GeneratorStatus &status)
{
    QJsonArray channels;
    for (int index = 0; index < kChannelCount; ++index) {
        const std::optional<PulseSteps> &steps = status.channels[index];
        channels.append(QJsonObject{
                {"channel", index + 1},
                {"delayPs", steps ? QJsonValue(steps->delaySteps * kStepPs) : QJsonValue()},
                {"widthPs", steps ? QJsonValue(steps->widthSteps * kStepPs) : QJsonValue()},
                {"label", status.labels[size_t(index)]},
        });
    }
    const QJsonObject object{
            {"manufacturer", status.instrument.manufacturer},
            {"model", status.instrument.model},
            {"version", status.instrument.version},
            {"serialNumber", status.serialNumber},
            {"port", status.port},
            {"link", QJsonObject{{"up", status.linkUp}, {"problem", status.linkProblem}}},
            {"lockOwner", status.lockOwner.isEmpty() ? QJsonValue() : QJsonValue(status.lockOwner)},
            {"resources", QJsonArray::fromStringList(status.resources)},
            {"channels", channels},
            {"record", QJsonObject{{"kept", status.recordKept}, {"problem", status.recordProblem}}},
            {"setups", QJsonArray::fromStringList(status.setups)},
            {"journal", entriesJson(status.journal)},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString hostText(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    if (isIPv4)
        return QHostAddress(ipv4).toString();
    return u'[' + address.toString() + u']';
}
