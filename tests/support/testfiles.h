#ifndef TESTFILES_H
#define TESTFILES_H

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &content);

// Puts at `path` what no channel file may be: "folder", "fifo", "device"
// (a character device; needs root), "dangling" (a symbolic link to
// nothing) or "large" (comments one byte over the size limit).
bool makeUnusableFile(const QString &path, const QString &kind);

// What kestrane-sim saves after taking these set frames from its start.
QByteArray stateFileAfter(const QByteArrayList &setFrames);

#endif // TESTFILES_H
