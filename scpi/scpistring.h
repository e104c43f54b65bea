#ifndef SCPISTRING_H
#define SCPISTRING_H

#include <QByteArray>

// A SCPI string response: in double quotes, a quote inside doubled. Bytes
// outside printable ASCII are escaped (\r, \n, \t, \xNN) and so is the
// backslash, so that any bytes fit on one line.
QByteArray quotedScpiString(const QByteArray &bytes);

#endif // SCPISTRING_H
