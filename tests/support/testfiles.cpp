#include "tests/support/testfiles.h"

#include "simulator/generatorstate.h"

#include <QFile>

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

QByteArray stateFileAfter(const QByteArrayList &setFrames)
{
    GeneratorState state;
    for (const QByteArray &frame : setFrames) {
        if (!state.applySetFrame(frame))
            return "(rejected frame " + frame + ')';
    }
    return state.toText();
}
