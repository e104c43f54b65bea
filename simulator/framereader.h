#ifndef FRAMEREADER_H
#define FRAMEREADER_H

#include <QByteArray>
#include <QList>

// What the generator makes of the bytes it receives.
struct FrameEvent
{
    enum Kind { Frame, Dropped };
    Kind kind;
    QByteArray bytes;

    bool operator==(const FrameEvent &other) const
    {
        return kind == other.kind && bytes == other.bytes;
    }
};

// Splits the byte stream into frames, which carry no terminator: a digit
// starts a set frame of eight digits, "S" starts "SAV". A byte that cannot
// continue the frame in progress drops that partial frame and may start a
// new one; any other stray byte is dropped, and so is a partial frame that
// has received nothing for kIdleTimeoutMs.
class FrameReader
{
public:
    static constexpr qint64 kIdleTimeoutMs = 50;
    static constexpr int kSetFrameSize = 8;

    // Bytes received at nowMs (any monotonic clock), in order.
    QList<FrameEvent> feed(const QByteArray &bytes, qint64 nowMs);
    // Drops a partial frame that has been idle long enough by nowMs.
    QList<FrameEvent> expire(qint64 nowMs);
    bool hasPartialFrame() const { return !partial.isEmpty(); }

private:
    bool continues(char byte) const;
    void drop(QList<FrameEvent> &events, const QByteArray &bytes);

    QByteArray partial;
    qint64 lastByteMs = 0;
};

#endif // FRAMEREADER_H
