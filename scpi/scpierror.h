#ifndef SCPIERROR_H
#define SCPIERROR_H

#include <QByteArray>
#include <QString>

// The standard SCPI error numbers this instrument reports.
enum class ScpiErrorCode : int {
    NoError = 0,
    CommandError = -100,
    ParameterNotAllowed = -108,
    MissingParameter = -109,
    UndefinedHeader = -113,
    HeaderSuffixOutOfRange = -114,
    InvalidSuffix = -131,
    DataTypeError = -104,
    CommandProtected = -203,
    SettingsConflict = -221,
    DataOutOfRange = -222,
    IllegalParameterValue = -224,
    TooMuchData = -223,
    HardwareError = -240,
    HardwareMissing = -241,
    MassStorageError = -250,
    FileNameNotFound = -256,
    FileNameError = -257,
    DeviceSpecificError = -300,
    QueueOverflow = -350,
};

struct ScpiError
{
    ScpiErrorCode code = ScpiErrorCode::NoError;
    QString detail; // appended to the standard text after ";", may be empty
};

// "-113,\"Undefined header;PULS17:DEL\"" as SYSTem:ERRor? answers. The text
// holds no comma, since clients split the answer at commas: one in the
// detail becomes a space.
QByteArray formatScpiError(const ScpiError &error);

#endif // SCPIERROR_H
