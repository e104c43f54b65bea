#include "tests/support/testfiles.h"

#include "simulator/generatorstate.h"

#include "pulse/channelrecords.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <sys/sysmacros.h>

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

bool makeUnusableFile(const QString &path, const QString &kind)
{
    const QByteArray name = QFile::encodeName(path);
    if (kind == "folder")
        return QDir().mkdir(path);
    if (kind == "fifo")
        return ::mkfifo(name.constData(), 0600) == 0;
    if (kind == "device")
        return ::mknod(name.constData(), S_IFCHR | 0600, makedev(1, 3)) == 0;
    if (kind == "dangling")
        return QFile::link(path + QStringLiteral(".gone"), path);
    if (kind == "large")
        return writeFile(path, QByteArray(kMaxChannelFileBytes + 1, '#'));
    return false;
}

QByteArray stateFileAfter(const QByteArrayList &setFrames)
{
    GeneratorState state;
    for (const QByteArray &frame : setFrames) {
        if (!state.applySetFrame(frame))
            return "(rejected frame " + frame + ')';
    }
    return state.toText();
}
