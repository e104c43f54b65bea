// Profiles (kestrane-ctl) and state files (kestrane-sim) from any bytes:
// no crash, and whatever is accepted is sound.
#include "cli/frameplan.h"
#include "fuzz/fuzzarguments.h"
#include "simulator/generatorstate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    const Result<QList<PlannedFrame>> frames = planProfile(QStringLiteral("profile"), text);
    if (frames) {
        // Every frame planned from an accepted profile is one the device takes.
        GeneratorState device;
        for (const PlannedFrame &planned : frames.value())
            FUZZ_CHECK(device.applySetFrame(planned.frame));
    } else {
        FUZZ_CHECK(frames.error().startsWith(QStringLiteral("profile:")));
    }

    const Result<GeneratorState> state = GeneratorState::fromText(QStringLiteral("state"), text);
    if (state) {
        const Result<GeneratorState> again = GeneratorState::fromText(
                QStringLiteral("saved"), QString::fromUtf8(state->toText()));
        FUZZ_CHECK(again && again->toText() == state->toText());
    }
    return 0;
}
