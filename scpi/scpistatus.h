#ifndef SCPISTATUS_H
#define SCPISTATUS_H

#include "scpi/scpierror.h"

#include <QByteArray>
#include <QByteArrayList>

#include <deque>

// One client's error queue and IEEE 488.2 status registers.
class ScpiStatus
{
public:
    static constexpr int kErrorQueueLength = 20;

    // Sets the error's bit in the event status register; a full queue's last
    // entry becomes -350.
    void pushError(const ScpiError &error);
    // The oldest error, or 0,"No error"; removes it.
    QByteArray takeNextError();
    // Every error, oldest first, separated by commas; 0,"No error" when none.
    QByteArray takeAllErrors();
    int errorCount() const { return int(errors.size()); }

    // *CLS: the queue and the event status register.
    void clear();
    // *ESR?: reads and clears the event status register.
    int takeEventStatus();
    void setOperationComplete() { eventStatus |= kOperationComplete; }
    int eventEnable() const { return eventEnableMask; }
    void setEventEnable(int mask) { eventEnableMask = mask & 0xff; }
    int serviceEnable() const { return serviceEnableMask; }
    // Bit 6 cannot be enabled: it is the summary of the others.
    void setServiceEnable(int mask) { serviceEnableMask = mask & 0xbf; }
    // *STB?: error queue not empty (bit 2), event summary (5), request service (6).
    int statusByte() const;

private:
    static constexpr int kOperationComplete = 0x01;

    std::deque<ScpiError> errors;
    int eventStatus = 0;
    int eventEnableMask = 0;
    int serviceEnableMask = 0;
};

#endif // SCPISTATUS_H
