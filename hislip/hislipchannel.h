#ifndef HISLIPCHANNEL_H
#define HISLIPCHANNEL_H

#include "hislip/hislipmessage.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QObject>
#include <QString>

#include <deque>
#include <optional>

class QSocketNotifier;
class QTimer;

Q_DECLARE_LOGGING_CATEGORY(lcHislip)

// One TCP connection of HiSLIP: a session's synchronous or asynchronous
// one, or one that has not said yet which it is. Messages come in one at a
// time and go to its receiver: Data and DataEnd payloads in pieces, as the
// receiver has room for them (TCP holds the client back meanwhile), any
// other payload whole up to kMaxControlPayloadBytes (a longer one is
// skipped; its header tells). Messages go out in order.
//
// The connection closes when the peer closes or resets it, when a header
// does not begin with "HS" (after FatalError), and when it stalls: part of
// a message, or nothing at all while the receiver awaits the client, with
// nothing more arriving for kStalledConnectionMs. Time the receiver takes
// (no room, messages held) never counts.
class HislipChannel : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype kMaxControlPayloadBytes = 1024;

    enum class Loss { Closed, Stalled, BadHeader };

    class Receiver
    {
    public:
        Receiver() = default;
        virtual ~Receiver() = default;
        Receiver(const Receiver &) = delete;
        Receiver &operator=(const Receiver &) = delete;

        // A whole message other than Data and DataEnd; `payload` is empty
        // when the header announced more than kMaxControlPayloadBytes.
        virtual void receive(HislipChannel &channel, const HislipHeader &header,
                             const QByteArray &payload)
                = 0;
        // A piece of a Data or DataEnd message: the first, empty, as its
        // header arrives; the last ends it.
        virtual void receiveData(HislipChannel &channel, const HislipHeader &header,
                                 const QByteArray &piece, bool first, bool last)
                = 0;
        // How many payload bytes it takes now.
        virtual qsizetype dataRoom() const = 0;
        // The connection closed by itself; it is deleted soon after.
        virtual void lost(HislipChannel &channel, Loss loss) = 0;
    };

    // Takes the socket descriptor over; closes it when deleted.
    HislipChannel(int socket, Receiver *receiver, QObject *parent = nullptr);
    ~HislipChannel() override;

    void setReceiver(Receiver *next) { receiver = next; }
    const QString &peer() const { return peerName; }
    // While awaiting the client, silence counts as a stall.
    void setAwaitingClient(bool awaiting);
    // Messages wait in the socket while held.
    void setHeld(bool hold);
    // Hands on what waited for room.
    void resume();

    void send(HislipType type, quint8 control, quint32 parameter, const QByteArray &payload = {});
    qsizetype unsentBytes() const { return unsent; }
    // Drops the Data and DataEnd messages not begun yet.
    void dropUnsentData();
    // Sends FatalError, then closes.
    void fail(HislipFatal code, const QString &text);
    // Stops reading and writing at once; deleted soon after. The receiver
    // is not told.
    void close();
    bool isClosed() const { return closed; }

signals:
    // Output went out: there may be room for more.
    void sent();

private:
    void readInput();
    void parse();
    bool handOnData();
    void writeOutput();
    void watchForStall(bool progressed);
    void stalled();
    void lose(Loss loss);

    const int socket;
    const QString peerName;
    Receiver *receiver;
    QSocketNotifier *readable;
    QSocketNotifier *writable;
    QTimer *stallTimer;
    QByteArray input;
    std::optional<HislipHeader> current; // the message coming in
    quint64 payloadLeft = 0;
    QByteArray payload;
    std::deque<QByteArray> output;
    qsizetype sentOfFirst = 0;
    qsizetype unsent = 0;
    bool awaitingClient = false;
    bool held = false;
    bool waitingForRoom = false;
    bool parsing = false;
    bool closed = false;
};

#endif // HISLIPCHANNEL_H
