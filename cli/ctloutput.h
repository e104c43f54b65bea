#ifndef CTLOUTPUT_H
#define CTLOUTPUT_H

#include "common/result.h"

#include <QByteArray>
#include <QString>

#include <cstdio>

void printLine(std::FILE *stream, const QString &line);

// "kestrane-ctl: warning: MESSAGE" on stderr.
void warn(const QString &message);

// A script reads stdout: what it never got must not pass for success.
Result<void> writeOutput(const QByteArray &bytes);
Result<void> printOutput(const QString &line);

#endif // CTLOUTPUT_H
