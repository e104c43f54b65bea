#ifndef CTLOUTPUT_H
#define CTLOUTPUT_H

#include "common/result.h"

#include <QByteArray>
#include <QString>

#include <cstdio>

constexpr int kExitDeviceError = 1;
constexpr int kExitOutputError = 1;
constexpr int kExitInputError = 2;

void printLine(std::FILE *stream, const QString &line);

// "kestrane-ctl: MESSAGE" on stderr; returns the exit code to end with.
int fail(int exitCode, const QString &message);

// "kestrane-ctl: warning: MESSAGE" on stderr.
void warn(const QString &message);

// A script reads stdout: what it never got must not pass for success.
Result<void> writeOutput(const QByteArray &bytes);
Result<void> printOutput(const QString &line);

#endif // CTLOUTPUT_H
