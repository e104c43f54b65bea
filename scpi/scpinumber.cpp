#include "scpi/scpinumber.h"

#include <QByteArrayView>

#include <algorithm>

namespace {

struct Multiplier
{
    const char *prefix;
    double factor;
};

// SCPI's prefixes as far as times need them; "M" is milli.
const Multiplier kMultipliers[] = {{"", 1}, {"M", 1e-3}, {"U", 1e-6}, {"N", 1e-9}, {"P", 1e-12}};

// The length of the decimal number at the start of `text` (sign, digits
// with a point, exponent), or 0 when there is none.
qsizetype numberLength(QByteArrayView text)
{
    qsizetype at = 0;
    const auto digits = [&text, &at] {
        const qsizetype start = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9')
            ++at;
        return at - start;
    };
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        ++at;
    qsizetype mantissa = digits();
    if (at < text.size() && text[at] == '.') {
        ++at;
        mantissa += digits();
    }
    if (mantissa == 0)
        return 0;
    const qsizetype beforeExponent = at;
    if (at < text.size() && text[at] == 'E') {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-'))
            ++at;
        if (digits() == 0)
            return beforeExponent; // "1E" is the number 1 and the suffix "E"
    }
    return at;
}

} // namespace

Result<double, ScpiError> parseScpiNumber(const QByteArray &text, const QByteArray &unit,
                                          NumberLimits limits)
{
    const QByteArray upper = text.trimmed().toUpper();
    if (upper == "MIN" || upper == "MINIMUM")
        return limits.minimum;
    if (upper == "MAX" || upper == "MAXIMUM")
        return limits.maximum;

    const qsizetype length = numberLength(upper);
    const QByteArray suffix = upper.mid(length).trimmed();
    const bool letters = std::all_of(suffix.begin(), suffix.end(),
                                     [](char c) { return c >= 'A' && c <= 'Z'; });
    // Whitespace may stand between the number and its suffix, not in either.
    if (length == 0 || !letters || (suffix.isEmpty() && upper.size() != length))
        return Failure{ScpiError{ScpiErrorCode::DataTypeError, QString::fromLatin1(text)}};
    // Out of double's range: infinite, and then out of any time's.
    const double value = upper.left(length).toDouble();
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
