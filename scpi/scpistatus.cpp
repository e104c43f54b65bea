#include "scpi/scpistatus.h"

#include <utility>

namespace {

constexpr int kQueryError = 0x04;
constexpr int kDeviceError = 0x08;
constexpr int kExecutionError = 0x10;
constexpr int kCommandError = 0x20;
constexpr int kErrorQueueNotEmpty = 0x04;
constexpr int kEventSummary = 0x20;
constexpr int kRequestService = 0x40;

// -100s are command errors, -200s execution, -300s device, -400s query.
int eventBitFor(ScpiErrorCode code)
{
    switch (-int(code) / 100) {
    case 1:
        return kCommandError;
    case 2:
        return kExecutionError;
    case 3:
        return kDeviceError;
    case 4:
        return kQueryError;
    default:
        return 0;
    }
}

} // namespace

void ScpiStatus::pushError(const ScpiError &error)
{
    eventStatus |= eventBitFor(error.code);
    if (errors.size() < size_t(kErrorQueueLength)) {
        errors.push_back(error);
        return;
    }
    eventStatus |= kDeviceError;
    errors.back() = {ScpiErrorCode::QueueOverflow, {}};
}

QByteArray ScpiStatus::takeNextError()
{
    if (errors.empty())
        return formatScpiError({});
    const ScpiError oldest = errors.front();
    errors.pop_front();
    return formatScpiError(oldest);
}

QByteArray ScpiStatus::takeAllErrors()
{
    QByteArrayList all{takeNextError()};
    while (!errors.empty())
        all.append(takeNextError());
    return all.join(',');
}

void ScpiStatus::clear()
{
    errors.clear();
    eventStatus = 0;
}

int ScpiStatus::takeEventStatus()
{
    return std::exchange(eventStatus, 0);
}

int ScpiStatus::statusByte() const
{
    int byte = 0;
    if (!errors.empty())
        byte |= kErrorQueueNotEmpty;
    if (eventStatus & eventEnableMask)
        byte |= kEventSummary;
    if (byte & serviceEnableMask)
        byte |= kRequestService;
    return byte;
}
