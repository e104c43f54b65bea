// kestrane-ctl's command line from any arguments: no crash, and accepted
// requests are within their ranges.
#include "cli/ctlrequest.h"
#include "fuzz/fuzzarguments.h"
#include "pulse/channelrecords.h"
#include "pulse/pulsesteps.h"

#include <QCommandLineParser>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QCommandLineParser parser;
    const Result<CtlRequest> request
            = parseCtlRequest(parser, fuzzArguments("kestrane-ctl", data, size));
    if (!request) {
        FUZZ_CHECK(!request.error().isEmpty());
        return 0;
    }
    FUZZ_CHECK(request->replyTimeoutMs > 0);
    FUZZ_CHECK(!request->saveAfterApply || request->command == CtlRequest::Apply);
    FUZZ_CHECK(request->outputPath.isEmpty() || request->command == CtlRequest::Diagram);
    if (request->command == CtlRequest::Set) {
        FUZZ_CHECK(request->channel >= 1 && request->channel <= kChannelCount);
        FUZZ_CHECK(request->delayPs >= 0 && request->delayPs <= kMaxTimePs);
        FUZZ_CHECK(request->widthPs >= 0 && request->widthPs <= kMaxTimePs);
    }
    return 0;
}
