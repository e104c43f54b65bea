#ifndef ESCAPEDBYTES_H
#define ESCAPEDBYTES_H

#include <QByteArray>

// Any bytes as printable ASCII on one line: \r, \n, \t, \\ and \xNN for
// everything outside printable ASCII. What a device said, fit for a log,
// a table or a quoted string.
QByteArray escapedBytes(const QByteArray &bytes);

#endif // ESCAPEDBYTES_H
