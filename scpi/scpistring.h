#ifndef SCPISTRING_H
#define SCPISTRING_H

#include "common/result.h"
#include "scpi/scpierror.h"

#include <QByteArray>

// A SCPI string response: in double quotes, a quote inside doubled. Bytes
// outside printable ASCII are escaped (\r, \n, \t, \xNN) and so is the
// backslash, so that any bytes fit on one line.
QByteArray quotedScpiString(const QByteArray &bytes);

// Printable text (a label, a name) as a SCPI string response: UTF-8 in
// double quotes, a quote inside doubled, nothing escaped.
QByteArray quotedScpiText(const QString &text);

// A string parameter as written, in double or single quotes with the quote
// doubled inside; its bytes as they are, without escapes. Anything else is
// a data type error.
Result<QByteArray, ScpiError> unquotedScpiString(const QByteArray &parameter);

#endif // SCPISTRING_H
