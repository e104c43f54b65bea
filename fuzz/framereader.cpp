// The simulator's frame reader on any byte stream at any pace: every byte
// comes out once, as part of a frame or a drop, and frames are well formed.
#include "fuzz/fuzzarguments.h"
#include "simulator/framereader.h"
#include "simulator/generatorstate.h"

#include <algorithm>

namespace {

qsizetype account(const QList<FrameEvent> &events, GeneratorState &state)
{
    qsizetype bytes = 0;
    for (const FrameEvent &event : events) {
        FUZZ_CHECK(!event.bytes.isEmpty());
        if (event.kind == FrameEvent::Frame) {
            FUZZ_CHECK(event.bytes == "SAV" || event.bytes.size() == FrameReader::kSetFrameSize);
            if (event.bytes != "SAV") [[maybe_unused]]
                const bool applied = state.applySetFrame(event.bytes);
        }
        bytes += event.bytes.size();
    }
    return bytes;
}

} // namespace

// Each chunk is a control byte, then up to 16 bytes of the stream: the low
// four bits give the chunk's length, the high four how long the line was
// idle before it (in 8 ms units, so that partial frames expire).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FrameReader reader;
    GeneratorState state;
    qint64 nowMs = 0;
    qsizetype fed = 0;
    qsizetype accounted = 0;
    for (size_t position = 0; position < size;) {
        const uint8_t control = data[position++];
        const size_t length = std::min<size_t>(control % 16 + 1, size - position);
        nowMs += (control >> 4) * 8;
        const QByteArray chunk(reinterpret_cast<const char *>(data + position), qsizetype(length));
        accounted += account(reader.feed(chunk, nowMs), state);
        fed += chunk.size();
        position += length;
    }
    accounted += account(reader.expire(nowMs + FrameReader::kIdleTimeoutMs), state);
    FUZZ_CHECK(!reader.hasPartialFrame() && accounted == fed);
    return 0;
}
