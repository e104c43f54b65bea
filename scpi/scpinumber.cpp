#include "scpi/scpinumber.h"

#include <QRegularExpression>

namespace {

struct Multiplier
{
    const char *prefix;
    double factor;
};

// SCPI's prefixes as far as times need them; "M" is milli.
const Multiplier kMultipliers[] = {{"", 1}, {"M", 1e-3}, {"U", 1e-6}, {"N", 1e-9}, {"P", 1e-12}};

} // namespace

Result<double, ScpiError> parseScpiNumber(const QByteArray &text, const QByteArray &unit,
                                          NumberLimits limits)
{
    const QByteArray upper = text.trimmed().toUpper();
    if (upper == "MIN" || upper == "MINIMUM")
        return limits.minimum;
    if (upper == "MAX" || upper == "MAXIMUM")
        return limits.maximum;

    static const QRegularExpression number(
            QStringLiteral("^([+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:E[+-]?[0-9]+)?)\\s*([A-Z]*)$"));
    const QRegularExpressionMatch match = number.match(QString::fromLatin1(upper));
    if (!match.hasMatch())
        return Failure{ScpiError{ScpiErrorCode::DataTypeError, QString::fromLatin1(text)}};
    const double value = match.captured(1).toDouble();
    const QByteArray suffix = match.captured(2).toLatin1();
    if (suffix.isEmpty())
        return value;
    if (!unit.isEmpty() && suffix.endsWith(unit)) {
        const QByteArray prefix = suffix.chopped(unit.size());
        for (const Multiplier &multiplier : kMultipliers) {
            if (prefix == multiplier.prefix)
                return value * multiplier.factor;
        }
    }
    return Failure{ScpiError{ScpiErrorCode::InvalidSuffix, QString::fromLatin1(text)}};
}
