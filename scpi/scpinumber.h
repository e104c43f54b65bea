#ifndef SCPINUMBER_H
#define SCPINUMBER_H

#include "common/result.h"
#include "scpi/scpierror.h"

#include <QByteArray>

// A numeric parameter: a decimal number with optional exponent, then
// optionally the unit with a multiplier prefix, or MINimum / MAXimum.
// With unit "S": PS, NS, US, MS and S (any case, space allowed before it).
// With no unit, no suffix is allowed. Errors: -104 not a number, -131 a
// suffix that is not the unit's.
struct NumberLimits
{
    double minimum = 0;
    double maximum = 0;
};
Result<double, ScpiError> parseScpiNumber(const QByteArray &text, const QByteArray &unit,
                                          NumberLimits limits);

#endif // SCPINUMBER_H
