#ifndef FUZZARGUMENTS_H
#define FUZZARGUMENTS_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

// A command line from fuzz input: the program name, then one argument per
// NUL-separated piece, decoded as UTF-8 as the system's arguments are.
inline QStringList fuzzArguments(const char *program, const uint8_t *data, size_t size)
{
    QStringList arguments{QString::fromLatin1(program)};
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const QByteArray &piece : bytes.split('\0'))
        arguments.append(QString::fromUtf8(piece));
    return arguments;
}

// Stops the run where an invariant breaks, so libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                 \
    do {                                      \
        if (!(condition))                     \
            qFatal("broken: %s", #condition); \
    } while (false)

#endif // FUZZARGUMENTS_H
