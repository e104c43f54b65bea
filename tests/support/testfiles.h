#ifndef TESTFILES_H
#define TESTFILES_H

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &content);

// What kestrane-sim saves after taking these set frames from its start.
QByteArray stateFileAfter(const QByteArrayList &setFrames);

#endif // TESTFILES_H
