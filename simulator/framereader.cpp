#include "simulator/framereader.h"

namespace {

const QByteArray kSaveFrame = QByteArrayLiteral("SAV");

bool isDigit(char byte)
{
    return byte >= '0' && byte <= '9';
}

} // namespace

QList<FrameEvent> FrameReader::feed(const QByteArray &bytes, qint64 nowMs)
{
    QList<FrameEvent> events = expire(nowMs);
    for (const char byte : bytes) {
        if (!partial.isEmpty() && !continues(byte))
            drop(events, std::exchange(partial, {}));
        if (partial.isEmpty() && !isDigit(byte) && byte != kSaveFrame.front()) {
            drop(events, QByteArray(1, byte));
            continue;
        }
        partial.append(byte);
        const bool complete = isDigit(partial.front()) ? partial.size() == kSetFrameSize
                                                       : partial == kSaveFrame;
        if (complete)
            events.append({FrameEvent::Frame, std::exchange(partial, {})});
    }
    lastByteMs = nowMs;
    return events;
}

QList<FrameEvent> FrameReader::expire(qint64 nowMs)
{
    QList<FrameEvent> events;
    if (!partial.isEmpty() && nowMs - lastByteMs >= kIdleTimeoutMs)
        drop(events, std::exchange(partial, {}));
    return events;
}

bool FrameReader::continues(char byte) const
{
    if (isDigit(partial.front()))
        return isDigit(byte);
    return kSaveFrame.startsWith(partial + byte);
}

// Neighbouring drops read as one.
void FrameReader::drop(QList<FrameEvent> &events, const QByteArray &bytes)
{
    if (!events.isEmpty() && events.constLast().kind == FrameEvent::Dropped)
        events.last().bytes += bytes;
    else
        events.append({FrameEvent::Dropped, bytes});
}
