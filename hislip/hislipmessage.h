#ifndef HISLIPMESSAGE_H
#define HISLIPMESSAGE_H

#include <QByteArray>
#include <QtGlobal>

#include <optional>

// HiSLIP's messages as they travel over TCP: a 16-byte header ("HS", the
// message type, a control code, a 32-bit parameter and the payload's length
// in 64 bits, all big-endian), then the payload.

// The port VISA addresses HiSLIP on unless the resource string names another.
constexpr quint16 kHislipPort = 4880;
// Protocol version 1.1, the newest this server speaks: major in the high byte.
constexpr quint16 kHislipVersion = 0x0101;
constexpr qsizetype kHislipHeaderBytes = 16;
// The first MessageID of a client, again after each device clear; each
// Data, DataEnd or Trigger it sends counts on by two.
constexpr quint32 kHislipFirstMessageId = 0xffffff00u;
// Bit 0 of a client's Data, DataEnd, Trigger and AsyncStatusQuery control
// code: it has delivered the last answer to its user.
constexpr quint8 kHislipRmtDelivered = 0x01;

// The message types of versions 1.0 and 1.1; 26 to 127 belong to later
// versions and 128 to 255 to vendors.
enum class HislipType : quint8 {
    Initialize = 0,
    InitializeResponse = 1,
    FatalError = 2,
    Error = 3,
    AsyncLock = 4,
    AsyncLockResponse = 5,
    Data = 6,
    DataEnd = 7,
    DeviceClearComplete = 8,
    DeviceClearAcknowledge = 9,
    AsyncRemoteLocalControl = 10,
    AsyncRemoteLocalResponse = 11,
    Trigger = 12,
    Interrupted = 13,
    AsyncInterrupted = 14,
    AsyncMaximumMessageSize = 15,
    AsyncMaximumMessageSizeResponse = 16,
    AsyncInitialize = 17,
    AsyncInitializeResponse = 18,
    AsyncDeviceClear = 19,
    AsyncServiceRequest = 20,
    AsyncStatusQuery = 21,
    AsyncStatusResponse = 22,
    AsyncDeviceClearAcknowledge = 23,
    AsyncLockInfo = 24,
    AsyncLockInfoResponse = 25,
};
constexpr quint8 kHislipLastKnownType = 25;
constexpr quint8 kHislipFirstVendorType = 128;

// The control code of FatalError: the connection closes after it.
enum class HislipFatal : quint8 {
    Unidentified = 0,
    BadHeader = 1,
    ChannelsNotEstablished = 2,
    InvalidInitialization = 3,
    TooManyClients = 4,
};

// The control code of Error: the session goes on.
enum class HislipError : quint8 {
    Unidentified = 0,
    UnknownType = 1,
    UnknownControlCode = 2,
    UnknownVendorType = 3,
    MessageTooLarge = 4,
};

// The control codes of AsyncLockResponse.
enum class HislipLockResult : quint8 {
    Failed = 0,         // a request whose timeout passed
    Granted = 1,        // a request granted, or an exclusive lock released
    SharedReleased = 2, // a shared lock released
    Error = 3,          // a request or release that makes no sense
};

struct HislipHeader
{
    quint8 type = 0;
    quint8 control = 0;
    quint32 parameter = 0;
    quint64 payloadLength = 0;

    bool is(HislipType other) const { return type == quint8(other); }
};

// The header at the start of `bytes` (at least kHislipHeaderBytes long);
// nothing when it does not begin with "HS".
std::optional<HislipHeader> decodeHislipHeader(const char *bytes);

QByteArray hislipMessage(HislipType type, quint8 control, quint32 parameter,
                         const QByteArray &payload = {});

#endif // HISLIPMESSAGE_H
