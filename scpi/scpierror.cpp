#include "scpi/scpierror.h"

#include "scpi/scpistring.h"

namespace {

const char *standardText(ScpiErrorCode code)
{
    switch (code) {
    case ScpiErrorCode::NoError:
        return "No error";
    case ScpiErrorCode::CommandError:
        return "Command error";
    case ScpiErrorCode::DataTypeError:
        return "Data type error";
    case ScpiErrorCode::ParameterNotAllowed:
        return "Parameter not allowed";
    case ScpiErrorCode::MissingParameter:
        return "Missing parameter";
    case ScpiErrorCode::UndefinedHeader:
        return "Undefined header";
    case ScpiErrorCode::HeaderSuffixOutOfRange:
        return "Header suffix out of range";
    case ScpiErrorCode::InvalidSuffix:
        return "Invalid suffix";
    case ScpiErrorCode::CommandProtected:
        return "Command protected";
    case ScpiErrorCode::SettingsConflict:
        return "Settings conflict";
    case ScpiErrorCode::DataOutOfRange:
        return "Data out of range";
    case ScpiErrorCode::IllegalParameterValue:
        return "Illegal parameter value";
    case ScpiErrorCode::TooMuchData:
        return "Too much data";
    case ScpiErrorCode::HardwareError:
        return "Hardware error";
    case ScpiErrorCode::HardwareMissing:
        return "Hardware missing";
    case ScpiErrorCode::MassStorageError:
        return "Mass storage error";
    case ScpiErrorCode::FileNameNotFound:
        return "File name not found";
    case ScpiErrorCode::FileNameError:
        return "File name error";
    case ScpiErrorCode::DeviceSpecificError:
        return "Device-specific error";
    case ScpiErrorCode::QueueOverflow:
        return "Queue overflow";
    }
    return "Unknown error";
}

} // namespace

QByteArray formatScpiError(const ScpiError &error)
{
    QString text = QString::fromLatin1(standardText(error.code));
    if (!error.detail.isEmpty())
        text += u';' + QString(error.detail).replace(u',', u' ');
    return QByteArray::number(int(error.code)) + ',' + quotedScpiString(text.toUtf8());
}
