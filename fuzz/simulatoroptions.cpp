// kestrane-sim's command line from any arguments: no crash, and accepted
// options are within their ranges.
#include "fuzz/fuzzarguments.h"
#include "simulator/simulatoroptions.h"

#include <QCommandLineParser>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QCommandLineParser parser;
    const Result<SimulatorOptions> options
            = parseSimulatorOptions(parser, fuzzArguments("kestrane-sim", data, size));
    if (options) {
        FUZZ_CHECK(options->replyDelayMs >= 0);
        FUZZ_CHECK(options->splitMs.value_or(0) >= 0);
        FUZZ_CHECK(options->hangupAfterFrames.value_or(0) >= 0);
        FUZZ_CHECK(options->linkPath.isEmpty() || options->devicePath.isEmpty());
    } else {
        FUZZ_CHECK(!options.error().isEmpty());
    }
    return 0;
}
