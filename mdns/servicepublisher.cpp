#include "mdns/servicepublisher.h"

#include "mdns/avahiqtpoll.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>

#include <QByteArrayList>
#include <QLoggingCategory>
#include <QNetworkInterface>
#include <QTimer>

#include <algorithm>
#include <optional>
#include <utility>

Q_LOGGING_CATEGORY(lcMdns, "kestrane.mdns")

namespace {

// A DNS label, and so an instance name, holds at most 63 bytes.
constexpr int kMaxNameBytes = 63;
constexpr quint16 kPortmapperPort = 111;

// Where the services are announced: the interfaces that reach the address
// listened on, with its IP version.
struct Place
{
    AvahiIfIndex interface = AVAHI_IF_UNSPEC;
    AvahiProtocol protocol = AVAHI_PROTO_UNSPEC;
};

// Loopback addresses are all on the loopback interface, other addresses
// on the interface that has them.
bool reaches(const QNetworkInterface &interface, const QHostAddress &address)
{
    if (address.isLoopback())
        return interface.flags().testFlag(QNetworkInterface::IsLoopBack);
    const QList<QNetworkAddressEntry> entries = interface.addressEntries();
    return std::any_of(entries.begin(), entries.end(), [&](const QNetworkAddressEntry &entry) {
        return entry.ip().isEqual(address);
    });
}

std::optional<Place> placeFor(const QHostAddress &address)
{
    if (address == QHostAddress::AnyIPv4)
        return Place{AVAHI_IF_UNSPEC, AVAHI_PROTO_INET};
    if (address == QHostAddress::AnyIPv6) // IPv4 as well, as Linux listens by default
        return Place{AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC};
    const AvahiProtocol protocol = address.protocol() == QAbstractSocket::IPv6Protocol
                                           ? AVAHI_PROTO_INET6
                                           : AVAHI_PROTO_INET;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        if (reaches(interface, address))
            return Place{interface.index(), protocol};
    }
    return std::nullopt;
}

struct Service
{
    const char *type;
    quint16 port;
};

QList<Service> servicesOf(const Announcement &announcement)
{
    QList<Service> services{{"_scpi-raw._tcp", announcement.scpiPort}};
    if (announcement.httpPort != 0)
        services += {{"_lxi._tcp", announcement.httpPort}, {"_http._tcp", announcement.httpPort}};
    if (announcement.vxi11)
        services += {"_vxi-11._tcp", kPortmapperPort};
    if (announcement.hislipPort != 0)
        services += {"_hislip._tcp", announcement.hislipPort};
    return services;
}

// The TXT records in the order given.
AvahiStringList *textRecords(const QByteArrayList &records)
{
    AvahiStringList *list = nullptr;
    for (auto record = records.crbegin(); record != records.crend(); ++record)
        list = avahi_string_list_add(list, record->constData());
    return list;
}

QString errorText(AvahiClient *client)
{
    return QString::fromUtf8(avahi_strerror(avahi_client_errno(client)));
}

} // namespace

ServicePublisher::ServicePublisher(Announcement announcement, QObject *parent) :
    QObject(parent),
    announcement(std::move(announcement)),
    poll(new AvahiQtPoll(this))
{}

ServicePublisher::~ServicePublisher()
{
    if (client)
        avahi_client_free(client);
}

void ServicePublisher::start()
{
    connectToDaemon();
}

void ServicePublisher::setSerialNumber(const QString &serialNumber, bool inName)
{
    if (serialNumber == this->serialNumber && inName == serialInName)
        return;
    this->serialNumber = serialNumber;
    serialInName = inName;
    name.clear();
    if (client && avahi_client_get_state(client) == AVAHI_CLIENT_S_RUNNING) {
        withdraw();
        publish(client);
    }
}

void ServicePublisher::connectToDaemon()
{
    int error = 0;
    // The first state change comes before avahi_client_new() returns.
    client = avahi_client_new(
            poll->api(), AVAHI_CLIENT_NO_FAIL,
            [](AvahiClient *changed, AvahiClientState state, void *self) {
                static_cast<ServicePublisher *>(self)->clientChanged(changed, state);
            },
            this, &error);
    if (!client)
        qCWarning(lcMdns).noquote() << "mDNS: the services are not announced: no avahi-daemon "
                                       "over D-Bus:"
                                    << avahi_strerror(error);
}

void ServicePublisher::clientChanged(AvahiClient *changed, int state)
{
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        toldWaiting = false;
        return publish(changed);
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
        // The host's name changes: announced again once it runs.
        return withdraw();
    case AVAHI_CLIENT_CONNECTING:
        if (!std::exchange(toldWaiting, true))
            qCWarning(lcMdns) << "mDNS: avahi-daemon is not running; the services are announced "
                                 "once it is";
        return;
    default: // AVAHI_CLIENT_FAILURE
        if (avahi_client_errno(changed) != AVAHI_ERR_DISCONNECTED) {
            qCWarning(lcMdns).noquote()
                    << "mDNS: the services are no longer announced:" << errorText(changed);
            return;
        }
        // avahi-daemon stopped: a new client waits for the next one. Not
        // from within this client's own callback.
        QTimer::singleShot(0, this, [this, changed] {
            if (client != changed)
                return;
            avahi_client_free(std::exchange(client, nullptr));
            group = nullptr;
            connectToDaemon();
        });
    }
}

void ServicePublisher::groupChanged(AvahiEntryGroup *changed, int state)
{
    switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
        qCDebug(lcMdns).noquote() << "mDNS: announced as" << name;
        return;
    case AVAHI_ENTRY_GROUP_COLLISION: {
        char *alternative = avahi_alternative_service_name(name.toUtf8().constData());
        qCDebug(lcMdns).noquote() << "mDNS: the name" << name << "is taken; trying" << alternative;
        name = QString::fromUtf8(alternative);
        avahi_free(alternative);
        avahi_entry_group_reset(changed);
        return publish(avahi_entry_group_get_client(changed));
    }
    case AVAHI_ENTRY_GROUP_FAILURE:
        qCWarning(lcMdns).noquote() << "mDNS: the services are not announced:"
                                    << errorText(avahi_entry_group_get_client(changed));
        return;
    default: // uncommitted, registering
        return;
    }
}

void ServicePublisher::publish(AvahiClient *running)
{
    const std::optional<Place> place = placeFor(announcement.listenAddress);
    if (!place) {
        qCWarning(lcMdns).noquote() << "mDNS: the services are not announced: no interface has"
                                    << announcement.listenAddress.toString();
        return;
    }
    if (!group) {
        group = avahi_entry_group_new(
                running,
                [](AvahiEntryGroup *changed, AvahiEntryGroupState state, void *self) {
                    static_cast<ServicePublisher *>(self)->groupChanged(changed, state);
                },
                this);
        if (!group) {
            qCWarning(lcMdns).noquote()
                    << "mDNS: the services are not announced:" << errorText(running);
            return;
        }
    }
    if (name.isEmpty()) {
        const QString host = QString::fromUtf8(avahi_client_get_host_name(running));
        const QString unit = serialInName ? serialNumber + u' ' : QString();
        name = QStringLiteral("%1 pulse generator %2on %3")
                       .arg(announcement.manufacturer, unit, host);
        while (name.toUtf8().size() > kMaxNameBytes)
            name.chop(1);
    }
    QByteArrayList records{"txtvers=1", "Manufacturer=" + announcement.manufacturer.toUtf8(),
                           "Model=" + announcement.model.toUtf8()};
    if (!serialNumber.isEmpty())
        records += "SerialNumber=" + serialNumber.toUtf8();
    records += "FirmwareVersion=" + announcement.version.toUtf8();
    const QByteArray instance = name.toUtf8();
    for (const Service &service : servicesOf(announcement)) {
        const bool web = qstrcmp(service.type, "_http._tcp") == 0;
        AvahiStringList *text = textRecords(web ? records + QByteArrayList{"path=/"} : records);
        const int added = avahi_entry_group_add_service_strlst(
                group, place->interface, place->protocol, AvahiPublishFlags(0),
                instance.constData(), service.type, nullptr, nullptr, service.port, text);
        avahi_string_list_free(text);
        if (added == AVAHI_ERR_COLLISION)
            return groupChanged(group, AVAHI_ENTRY_GROUP_COLLISION);
        if (added < 0) {
            qCWarning(lcMdns).noquote() << "mDNS: cannot announce" << service.type << "as" << name
                                        << "-" << avahi_strerror(added);
            return;
        }
    }
    if (const int committed = avahi_entry_group_commit(group); committed < 0)
        qCWarning(lcMdns).noquote()
                << "mDNS: the services are not announced:" << avahi_strerror(committed);
}

void ServicePublisher::withdraw()
{
    if (group)
        avahi_entry_group_reset(group);
}
