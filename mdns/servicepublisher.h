#ifndef SERVICEPUBLISHER_H
#define SERVICEPUBLISHER_H

#include <QHostAddress>
#include <QObject>
#include <QString>

struct AvahiClient;
struct AvahiEntryGroup;
class AvahiQtPoll;

// What the daemon serves, to be announced on the local network.
struct Announcement
{
    QHostAddress listenAddress; // announced only on the interfaces that reach it
    QString manufacturer;
    QString model;
    QString version;
    quint16 scpiPort = 0;
    quint16 httpPort = 0;   // 0: no web server
    bool vxi11 = false;     // VXI-11 served through the portmapper on 111
    quint16 hislipPort = 0; // 0: no HiSLIP
};

// Announces the daemon's services with DNS-SD over mDNS through the
// running avahi-daemon (over D-Bus): _scpi-raw._tcp on the SCPI port,
// _lxi._tcp and _http._tcp on the web server's, _vxi-11._tcp on 111 while
// VXI-11 is served, _hislip._tcp on HiSLIP's port while it is. The instance
// name reads "MANUFACTURER pulse generator SERIAL on HOST" and is changed by
// Avahi's rules on a collision; the TXT records name the manufacturer,
// model, serial number and version.
// Without avahi-daemon it logs one line and announces once the daemon
// comes; when avahi-daemon restarts it announces again.
class ServicePublisher : public QObject
{
    Q_OBJECT

public:
    explicit ServicePublisher(Announcement announcement, QObject *parent = nullptr);
    ~ServicePublisher() override;

    void start();
    // The unit's serial number for the TXT records, announced anew when it
    // changes; `inName` when it is the generator's own, which the instance
    // name then carries too.
    void setSerialNumber(const QString &serialNumber, bool inName);

private:
    void connectToDaemon();
    void clientChanged(AvahiClient *changed, int state);
    void groupChanged(AvahiEntryGroup *changed, int state);
    void publish(AvahiClient *running);
    void withdraw();

    const Announcement announcement;
    AvahiQtPoll *poll;
    AvahiClient *client = nullptr;
    AvahiEntryGroup *group = nullptr;
    QString serialNumber;
    bool serialInName = false;
    QString name; // the instance name announced, after any renaming
    bool toldWaiting = false;
};

#endif // SERVICEPUBLISHER_H
