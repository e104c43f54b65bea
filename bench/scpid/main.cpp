// Measures kestrane-scpid against kestrane-sim answering at once: a SCPI
// round trip over TCP with the record kept and without it, over VXI-11 and
// over HiSLIP, next to the raw round trip on a pseudo-terminal, the rate
// eight clients reach together, the memory that
// 100,000 commands leave behind, and the CPU time and wakeups of an idle
// daemon with a client. VXI-11 needs a portmapper (rpcbind) on this host.
#include "bench/quantile.h"
#include "bench/rawroundtrip.h"
#include "hislip/hislipmessage.h"
#include "terminal/rawterminal.h"
#include "vxi11/vxi11.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <utility>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRoundTrips = 1000;
constexpr int kClients = 8;
constexpr int kCommandsPerClient = 2000;
constexpr int kEarlyCommands = 1000;
constexpr int kLateCommands = 100000;
constexpr int kBatch = 100;
constexpr int kIdleMs = 10000;
constexpr int kWaitMs = 5000;
constexpr double kGoalRoundTripRatio = 2.0;
constexpr double kGoalVxi11Ratio = 1.5;
constexpr double kGoalHislipRatio = 1.1;
constexpr double kGoalRecordRatio = 1.1;
constexpr double kGoalRelayRatio = 1.0;
constexpr double kGoalIdleMiB = 16.0;
constexpr int kCpuRoundTrips = 2000;
constexpr double kGoalRateRatio = 0.5;
constexpr double kGoalMemoryMiB = 1.0;
constexpr double kGoalIdleCpuMs = 10.0;
const QByteArray kFrame = QByteArrayLiteral("01091182");

QByteArray setCommand(int channel, int step)
{
    return QByteArrayLiteral("PULS%1:TIM %2PS,%3PS;*OPC?\n")
            .replace("%1", QByteArray::number(channel))
            .replace("%2", QByteArray::number(step % 256 * 11))
            .replace("%3", QByteArray::number(step % 255 * 11));
}

// A blocking client of the daemon: lines, or so many bytes.
class ClientSocket
{
public:
    explicit ClientSocket(quint16 port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~ClientSocket()
    {
        if (fd >= 0)
            ::close(fd);
    }
    ClientSocket(const ClientSocket &) = delete;
    ClientSocket &operator=(const ClientSocket &) = delete;

    bool isOpen() const { return fd >= 0; }

    bool send(const QByteArray &bytes) const
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

    QByteArray line()
    {
        qsizetype end = pending.indexOf('\n');
        while (end < 0) {
            if (!readMore())
                return {};
            end = pending.indexOf('\n');
        }
        QByteArray text = pending.left(end);
        pending.remove(0, end + 1);
        return text;
    }

    // The next `count` bytes; fewer when the connection failed.
    QByteArray exactly(qsizetype count)
    {
        while (pending.size() < count && readMore()) {
        }
        QByteArray bytes = pending.left(count);
        pending.remove(0, bytes.size());
        return bytes;
    }

    // One TIMing with *OPC?; the answer comes once the frame was exchanged.
    bool setAndWait(int channel, int step)
    {
        return send(setCommand(channel, step)) && line() == "1";
    }

private:
    bool readMore()
    {
        pollfd ready{fd, POLLIN, 0};
        char buffer[4096];
        if (::poll(&ready, 1, kWaitMs) <= 0)
            return false;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        pending.append(buffer, n);
        return true;
    }

    int fd = -1;
    QByteArray pending;
};

// A HiSLIP client as VISA libraries are: a session of two connections in
// synchronized mode, each exchange a DataEnd out and the answer's DataEnd
// back, tagged with the same MessageID.
class HislipClient
{
public:
    explicit HislipClient(quint16 port) :
        sync(port),
        async(port)
    {
        const auto version = quint32(kHislipVersion) << 16;
        if (!sync.send(hislipMessage(HislipType::Initialize, 0, version, "hislip0")))
            return;
        const std::optional<HislipHeader> initialized = receive(sync);
        if (!initialized || !initialized->is(HislipType::InitializeResponse)
            || !async.send(
                    hislipMessage(HislipType::AsyncInitialize, 0, initialized->parameter & 0xffff)))
            return;
        const std::optional<HislipHeader> joined = receive(async);
        open = joined && joined->is(HislipType::AsyncInitializeResponse);
    }

    bool isOpen() const { return open; }

    bool setAndWait(int channel, int step)
    {
        const quint32 id = std::exchange(nextMessageId, nextMessageId + 2);
        if (!sync.send(hislipMessage(HislipType::DataEnd, kHislipRmtDelivered, id,
                                     setCommand(channel, step))))
            return false;
        QByteArray answer;
        const std::optional<HislipHeader> header = receive(sync, &answer);
        return header && header->is(HislipType::DataEnd) && header->parameter == id
               && answer == "1\n";
    }

private:
    static std::optional<HislipHeader> receive(ClientSocket &socket, QByteArray *payload = nullptr)
    {
        const QByteArray bytes = socket.exactly(kHislipHeaderBytes);
        if (bytes.size() != kHislipHeaderBytes)
            return std::nullopt;
        const std::optional<HislipHeader> header = decodeHislipHeader(bytes.constData());
        if (!header)
            return std::nullopt;
        const QByteArray body = socket.exactly(qsizetype(header->payloadLength));
        if (body.size() != qsizetype(header->payloadLength))
            return std::nullopt;
        if (payload)
            *payload = body;
        return header;
    }

    ClientSocket sync;
    ClientSocket async;
    quint32 nextMessageId = kHislipFirstMessageId;
    bool open = false;
};

// A VXI-11 client as VISA libraries are: a link found through the
// portmapper, each exchange a device_write and a device_read.
class Vxi11Client
{
public:
    Vxi11Client() :
        client(clnt_create("127.0.0.1", DEVICE_CORE, DEVICE_CORE_VERSION, "tcp"))
    {
        Create_LinkParms parameters{0, false, 0, const_cast<char *>("inst0")};
        Create_LinkResp created{};
        if (client
            && call(create_link, xdrproc_t(xdr_Create_LinkParms), &parameters,
                    xdrproc_t(xdr_Create_LinkResp), &created)
            && created.error == 0)
            link = created.lid;
    }
    ~Vxi11Client()
    {
        if (client)
            clnt_destroy(client);
    }
    Vxi11Client(const Vxi11Client &) = delete;
    Vxi11Client &operator=(const Vxi11Client &) = delete;

    bool isOpen() const { return link >= 0; }

    bool setAndWait(int channel, int step)
    {
        QByteArray command = setCommand(channel, step);
        Device_WriteParms write{
                link, kWaitMs, kWaitMs, kEndOfMessage, {u_int(command.size()), command.data()}};
        Device_WriteResp written{};
        Device_ReadParms read{link, 256, kWaitMs, kWaitMs, 0, 0};
        Device_ReadResp answer{};
        const bool exchanged = call(device_write, xdrproc_t(xdr_Device_WriteParms), &write,
                                    xdrproc_t(xdr_Device_WriteResp), &written)
                               && written.error == 0
                               && call(device_read, xdrproc_t(xdr_Device_ReadParms), &read,
                                       xdrproc_t(xdr_Device_ReadResp), &answer)
                               && answer.error == 0
                               && QByteArray(answer.data.data_val, answer.data.data_len) == "1\n";
        xdr_free(xdrproc_t(xdr_Device_ReadResp), reinterpret_cast<char *>(&answer));
        return exchanged;
    }

private:
    static constexpr long kEndOfMessage = 0x08;

    bool call(u_long procedure, xdrproc_t encode, void *arguments, xdrproc_t decode, void *results)
    {
        const timeval timeout{kWaitMs / 1000, 0};
        return clnt_call(client, procedure, encode, static_cast<char *>(arguments), decode,
                         static_cast<char *>(results), timeout)
               == RPC_SUCCESS;
    }

    CLIENT *client;
    long link = -1;
};

// A client of socat relaying bytes between TCP and the simulator: the frame
// the daemon sends for a TIMing, and the simulator's answer back.
class RelayClient
{
public:
    explicit RelayClient(quint16 port) :
        socket(port)
    {}
    bool isOpen() const { return socket.isOpen(); }
    bool setAndWait(int, int) { return socket.send(kFrame) && socket.line() == "OK\r"; }

private:
    ClientSocket socket;
};

template<typename Client>
qint64 roundTripNs(Client &client, int step)
{
    QElapsedTimer clock;
    clock.start();
    return client.setAndWait(1, step) ? clock.nsecsElapsed() : -1;
}

// socat on a TCP port of its own, relaying to the pty: the least any relay
// of bytes between a TCP client and a serial port does. It serves one
// connection; with -d -d it says when it listens.
bool startRelay(QProcess &relay, const QString &port, quint16 tcpPort)
{
    relay.setReadChannel(QProcess::StandardError);
    relay.start(QStringLiteral("socat"),
                {QStringLiteral("-d"), QStringLiteral("-d"),
                 QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(tcpPort),
                 QStringLiteral("FILE:%1,rawer").arg(port)});
    QByteArray said;
    while (!said.contains("listening on") && relay.waitForReadyRead(kWaitMs))
        said += relay.readAll();
    return said.contains("listening on");
}

QString startSimulator(QProcess &simulator)
{
    simulator.start(QStringLiteral(KESTRANE_SIM_PATH), {});
    if (!simulator.waitForReadyRead(kWaitMs))
        return {};
    return QString::fromLocal8Bit(simulator.readLine()).trimmed();
}

// With a record, every face it has: the raw socket, VXI-11, HiSLIP, the
// status page (on `httpPort`) and its announcements (through the network's
// avahi-daemon, when one runs); without, the raw socket alone.
bool startDaemon(QProcess &daemon, const QString &port, quint16 tcpPort, quint16 hislipPort,
                 quint16 httpPort, const QString &record)
{
    daemon.setReadChannel(QProcess::StandardError);
    QStringList arguments{"--port",        port,
                          "--tcp-port",    QString::number(tcpPort),
                          "--max-clients", QString::number(kClients + 4)};
    if (record.isEmpty())
        arguments << "--no-record"
                  << "--no-vxi11"
                  << "--no-hislip"
                  << "--http-port"
                  << "0"
                  << "--no-mdns";
    else
        arguments << "--record" << record << "--hislip-port" << QString::number(hislipPort)
                  << "--http-port" << QString::number(httpPort);
    daemon.start(QStringLiteral(KESTRANE_SCPID_PATH), arguments);
    QByteArray said;
    while (!said.contains("serving") && daemon.waitForReadyRead(kWaitMs))
        said += daemon.readAll();
    return said.contains("serving");
}

quint16 freeTcpPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), size) == 0
                       && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0;
    ::close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

// Resident memory in KiB, from /proc.
double residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble();
    }
    return -1;
}

struct CpuUse
{
    double cpuNs = 0;
    qint64 timesRun = 0;
};

// Summed over the process's threads: time on a CPU and times it was given one.
CpuUse cpuUse(qint64 pid)
{
    CpuUse use;
    const QString taskDir = QStringLiteral("/proc/%1/task/").arg(pid);
    for (const QString &task : QDir(taskDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(taskDir + task + QStringLiteral("/schedstat"));
        if (schedstat.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> fields = schedstat.readAll().split(' ');
            use.cpuNs += fields.value(0).toDouble();
            use.timesRun += fields.value(2).trimmed().toLongLong();
        }
    }
    return use;
}

// Pipelined batches from one client until `total` commands have run.
bool runCommands(ClientSocket &client, int *done, int total)
{
    while (*done < total) {
        QByteArray lines;
        const int batch = std::min(kBatch, total - *done);
        for (int i = 0; i < batch; ++i) {
            const int step = *done + i;
            lines += QByteArrayLiteral("PULS%1:TIM %2PS,0;*OPC?\n")
                             .replace("%1", QByteArray::number(step % 16 + 1))
                             .replace("%2", QByteArray::number(step % 512 * 11));
        }
        if (!client.send(lines))
            return false;
        for (int i = 0; i < batch; ++i) {
            if (client.line() != "1")
                return false;
        }
        *done += batch;
    }
    return true;
}

void printRow(const char *measure, const QString &value, const QString &goal = {})
{
    std::printf("%-58s %14s  %s\n", measure, qPrintable(value), qPrintable(goal));
}

QString verdict(const char *goal, bool met)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(goal), met ? "met" : "missed");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QProcess served;
    QProcess servedWithout;
    QProcess rawSimulator;
    QProcess servedByRelay;
    QProcess daemon;
    QProcess daemonWithout;
    QProcess relay;
    const QTemporaryDir recordFolder;
    const QString servedPath = startSimulator(served);
    const QString servedWithoutPath = startSimulator(servedWithout);
    const QString rawPath = startSimulator(rawSimulator);
    const QString relayedPath = startSimulator(servedByRelay);
    const quint16 tcpPort = freeTcpPort();
    const quint16 tcpPortWithout = freeTcpPort();
    const quint16 hislipPort = freeTcpPort();
    const quint16 httpPort = freeTcpPort();
    const quint16 relayPort = freeTcpPort();
    RawTerminal rawEnd;
    if (servedPath.isEmpty() || servedWithoutPath.isEmpty() || relayedPath.isEmpty()
        || !rawEnd.openSerialPort(rawPath)
        || !startDaemon(daemon, servedPath, tcpPort, hislipPort, httpPort,
                        recordFolder.filePath("record.sqlite"))
        || !startDaemon(daemonWithout, servedWithoutPath, tcpPortWithout, 0, 0, {})
        || !startRelay(relay, relayedPath, relayPort)) {
        std::fprintf(stderr, "kestrane-scpid-bench: could not start the simulators and daemon\n");
        return 1;
    }
    const qint64 pid = daemon.processId();
    QStringList failed;

    // Round trips, alternating so that all see the same machine.
    ClientSocket client(tcpPort);
    ClientSocket clientWithout(tcpPortWithout);
    Vxi11Client vxi11;
    HislipClient hislip(hislipPort);
    RelayClient relayed(relayPort);
    if (!client.isOpen() || !clientWithout.isOpen() || !vxi11.isOpen() || !hislip.isOpen()
        || !relayed.isOpen())
        failed.append(QStringLiteral("no link over TCP, VXI-11, HiSLIP (is rpcbind running?) or "
                                     "through socat"));
    std::vector<qint64> scpi;
    std::vector<qint64> withoutRecord;
    std::vector<qint64> overVxi11;
    std::vector<qint64> overHislip;
    std::vector<qint64> throughRelay;
    std::vector<qint64> raw;
    for (int run = 0; run < kRoundTrips && failed.isEmpty(); ++run) {
        scpi.push_back(roundTripNs(client, run));
        withoutRecord.push_back(roundTripNs(clientWithout, run));
        overVxi11.push_back(roundTripNs(vxi11, run));
        overHislip.push_back(roundTripNs(hislip, run));
        throughRelay.push_back(roundTripNs(relayed, run));
        raw.push_back(rawRoundTripNs(rawEnd.fd(), kFrame));
        if (scpi.back() < 0 || withoutRecord.back() < 0 || overVxi11.back() < 0
            || overHislip.back() < 0 || throughRelay.back() < 0 || raw.back() < 0)
            failed.append(QStringLiteral("round trip %1").arg(run));
    }
    const double scpiNs = quantile(scpi, 0.5);
    const double withoutRecordNs = quantile(withoutRecord, 0.5);
    const double vxi11Ns = quantile(overVxi11, 0.5);
    const double hislipNs = quantile(overHislip, 0.5);
    const double relayNs = quantile(throughRelay, 0.5);
    const double rawNs = quantile(raw, 0.5);

    // CPU time for one round trip, the daemon's with every face served and
    // its record kept, and socat's: each alone, everything it does counted.
    const auto cpuPerRoundTripNs = [&failed](auto &talker, qint64 pid) {
        const CpuUse start = cpuUse(pid);
        for (int run = 0; run < kCpuRoundTrips; ++run) {
            if (!talker.setAndWait(1, run)) {
                failed.append(QStringLiteral("CPU round trip %1").arg(run));
                return 0.0;
            }
        }
        return (cpuUse(pid).cpuNs - start.cpuNs) / kCpuRoundTrips;
    };
    const double daemonCpuNs = cpuPerRoundTripNs(client, daemon.processId());
    const double relayCpuNs = cpuPerRoundTripNs(relayed, relay.processId());

    // Eight clients at once, each waiting for its own answers.
    std::vector<int> completed(kClients, 0);
    QElapsedTimer clock;
    clock.start();
    std::vector<std::thread> clients;
    clients.reserve(kClients);
    for (int n = 0; n < kClients; ++n) {
        clients.emplace_back([&completed, n, tcpPort] {
            ClientSocket own(tcpPort);
            for (int i = 0; i < kCommandsPerClient && own.setAndWait(n + 1, i); ++i)
                ++completed[size_t(n)];
        });
    }
    for (std::thread &thread : clients)
        thread.join();
    const double aggregatePerS
            = kClients * kCommandsPerClient / (double(clock.nsecsElapsed()) / 1e9);
    for (const int count : completed) {
        if (count != kCommandsPerClient)
            failed.append(QStringLiteral("a client got %1 answers").arg(count));
    }

    // Memory that many commands leave behind.
    ClientSocket loader(tcpPort);
    int done = 0;
    if (!runCommands(loader, &done, kEarlyCommands))
        failed.append(QStringLiteral("memory run stopped after %1 commands").arg(done));
    const double earlyKiB = residentKiB(pid);
    if (!runCommands(loader, &done, kLateCommands))
        failed.append(QStringLiteral("memory run stopped after %1 commands").arg(done));
    const double lateKiB = residentKiB(pid);

    // Idle with a client connected: nothing should wake the daemon.
    const CpuUse before = cpuUse(pid);
    QThread::msleep(kIdleMs);
    const CpuUse after = cpuUse(pid);
    const double idleKiB = residentKiB(pid);

    for (QProcess *ending : {&daemon, &daemonWithout}) {
        ending->terminate();
        if (!ending->waitForFinished(kWaitMs) || ending->exitCode() != 0)
            failed.append(QStringLiteral("a daemon did not end cleanly"));
    }
    for (QProcess *ending : {&relay, &served, &servedWithout, &servedByRelay, &rawSimulator}) {
        ending->terminate();
        ending->waitForFinished(kWaitMs);
    }
    rawEnd.close();
    if (scpiNs <= 0 || withoutRecordNs <= 0 || vxi11Ns <= 0 || hislipNs <= 0 || relayNs <= 0
        || rawNs <= 0 || daemonCpuNs <= 0 || relayCpuNs <= 0 || earlyKiB < 0 || lateKiB < 0
        || idleKiB < 0)
        failed.append(QStringLiteral("no value"));
    if (!failed.isEmpty()) {
        std::fprintf(stderr, "kestrane-scpid-bench: a measurement failed: %s\n",
                     qPrintable(failed.join(QStringLiteral(", "))));
        return 1;
    }

    const double ratio = scpiNs / rawNs;
    const double rawPerS = 1e9 / rawNs;
    const double memoryMiB = (lateKiB - earlyKiB) / 1024.0;
    const double idleCpuMs = (after.cpuNs - before.cpuNs) / 1e6;
    printRow("measure (against kestrane-sim answering at once)", QStringLiteral("value"),
             QStringLiteral("goal"));
    printRow("TIMing + *OPC? round trip over TCP, median",
             QString::asprintf("%.3f ms", scpiNs / 1e6));
    printRow("the same without the record (--no-record), median",
             QString::asprintf("%.3f ms", withoutRecordNs / 1e6));
    printRow("round trip with the record / without",
             QString::asprintf("%.2fx", scpiNs / withoutRecordNs),
             verdict("<= 1.1x", scpiNs / withoutRecordNs <= kGoalRecordRatio));
    printRow("the frame through socat (TCP to the pty, a byte relay), median",
             QString::asprintf("%.3f ms", relayNs / 1e6));
    printRow("round trip / socat's", QString::asprintf("%.2fx", scpiNs / relayNs),
             verdict("<= 1.0x", scpiNs / relayNs <= kGoalRelayRatio));
    printRow("daemon CPU per round trip (every face served, record kept)",
             QString::asprintf("%.1f us", daemonCpuNs / 1e3));
    printRow("socat CPU per round trip", QString::asprintf("%.1f us", relayCpuNs / 1e3));
    printRow("daemon CPU / socat CPU", QString::asprintf("%.2fx", daemonCpuNs / relayCpuNs),
             verdict("<= 1.0x", daemonCpuNs <= relayCpuNs));
    printRow("raw round trip: write, poll, read (POSIX), median",
             QString::asprintf("%.3f ms", rawNs / 1e6));
    printRow("TCP round trip / raw round trip", QString::asprintf("%.2fx", ratio),
             verdict("<= 2x", ratio <= kGoalRoundTripRatio));
    printRow("the same over VXI-11 (device_write, device_read), median",
             QString::asprintf("%.3f ms", vxi11Ns / 1e6));
    printRow("VXI-11 round trip / TCP round trip", QString::asprintf("%.2fx", vxi11Ns / scpiNs),
             verdict("<= 1.5x", vxi11Ns / scpiNs <= kGoalVxi11Ratio));
    printRow("the same over HiSLIP (DataEnd out, DataEnd back), median",
             QString::asprintf("%.3f ms", hislipNs / 1e6));
    printRow("HiSLIP round trip / TCP round trip", QString::asprintf("%.2fx", hislipNs / scpiNs),
             verdict("<= 1.1x", hislipNs / scpiNs <= kGoalHislipRatio));
    printRow("aggregate rate, 8 clients (TIMing + *OPC?)",
             QString::asprintf("%.0f /s", aggregatePerS));
    printRow("raw exchange rate (1 / raw round trip)", QString::asprintf("%.0f /s", rawPerS));
    printRow("aggregate rate / raw exchange rate",
             QString::asprintf("%.2fx", aggregatePerS / rawPerS),
             verdict(">= 0.5x", aggregatePerS / rawPerS >= kGoalRateRatio));
    printRow("resident memory after 100,000 commands - after 1,000",
             QString::asprintf("%.2f MiB", memoryMiB),
             verdict("< 1 MiB", memoryMiB < kGoalMemoryMiB));
    printRow("daemon CPU time over 10 s idle, one client connected",
             QString::asprintf("%.2f ms", idleCpuMs),
             verdict("< 10 ms", idleCpuMs < kGoalIdleCpuMs));
    printRow("daemon threads scheduled over the same 10 s (wakeups)",
             QString::number(after.timesRun - before.timesRun));
    printRow("resident memory, idle after them, every face served",
             QString::asprintf("%.1f MiB", idleKiB / 1024.0),
             verdict("<= 16 MiB", idleKiB / 1024.0 <= kGoalIdleMiB));
    return 0;
}
