#include "simulator/generatorstate.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The generator's own check: it knows nothing of how a host clamps.
bool fitsBudget(int delaySteps, int widthSteps)
{
    return delaySteps >= 0 && widthSteps >= 0 && delaySteps + widthSteps <= kBudgetSteps;
}

QString systemError(const QString &path)
{
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
}

// What is at a state path: nothing (std::nullopt), or a regular file,
// followed through symbolic links. A device, FIFO or folder there must
// never be replaced; a path that cannot be looked at is not "nothing".
Result<std::optional<struct stat>> stateFileStatus(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat status = {};
    if (::stat(name.constData(), &status) == 0) {
        if (!S_ISREG(status.st_mode))
            return Failure{QStringLiteral("%1: not a regular file").arg(path)};
        return std::optional<struct stat>(status);
    }
    if (errno == ENOENT && ::lstat(name.constData(), &status) != 0 && errno == ENOENT)
        return std::optional<struct stat>();
    if (errno == ENOENT)
        return Failure{QStringLiteral("%1: a symbolic link to nothing").arg(path)};
    return Failure{systemError(path)};
}

} // namespace

bool GeneratorState::applySetFrame(const QByteArray &frame)
{
    if (frame.size() != 8)
        return false;
    bool ok[3] = {};
    const int number = frame.mid(0, 2).toInt(&ok[0]);
    const int delaySteps = frame.mid(2, 3).toInt(&ok[1]);
    const int widthSteps = frame.mid(5, 3).toInt(&ok[2]);
    if (!ok[0] || !ok[1] || !ok[2] || number < 1 || number > kChannelCount
        || !fitsBudget(delaySteps, widthSteps))
        return false;
    channels[std::size_t(number - 1)] = {delaySteps, widthSteps};
    return true;
}

QByteArray GeneratorState::toText() const
{
    QByteArray text = "# Pulse generator state: channel, delay and width in 11 ps steps\n";
    for (int number = 1; number <= kChannelCount; ++number) {
        text += QByteArray::number(number) + ' ' + QByteArray::number(channel(number).delaySteps)
                + ' ' + QByteArray::number(channel(number).widthSteps) + '\n';
    }
    return text;
}

Result<GeneratorState> GeneratorState::fromText(const QString &source, const QString &text)
{
    const Result<QList<ChannelRecord>> records = parseChannelRecords(source, text, kBudgetSteps);
    if (!records)
        return Failure{records.error()};
    GeneratorState state;
    for (const ChannelRecord &record : records.value()) {
        if (!fitsBudget(record.delay, record.width))
            return recordFailure(
                    source, record.lineNumber,
                    QStringLiteral("delay plus width exceeds %1 steps").arg(kBudgetSteps));
        state.channels[std::size_t(record.channel - 1)] = {record.delay, record.width};
    }
    return state;
}

Result<GeneratorState> GeneratorState::load(const QString &path)
{
    const Result<std::optional<struct stat>> status = stateFileStatus(path);
    if (!status)
        return Failure{status.error()};
    if (!status.value())
        return GeneratorState();
    const Result<QString> text = readChannelFile(path);
    if (!text)
        return Failure{text.error()};
    return fromText(path, text.value());
}

Result<void> GeneratorState::save(const QString &path) const
{
    const Result<std::optional<struct stat>> status = stateFileStatus(path);
    if (!status)
        return Failure{status.error()};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Failure{file.errorString()};
    const std::optional<struct stat> &old = status.value();
    if (old && (old->st_uid != ::geteuid() || old->st_gid != ::getegid())
        && ::fchown(file.handle(), old->st_uid, old->st_gid) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        file.cancelWriting();
        return Failure{QStringLiteral("cannot keep the file's owner: %1").arg(reason)};
    }
    // The write is buffered: a full disk may only show when it is flushed,
    // and must not let an empty file replace the old one.
    const QByteArray text = toText();
    if (file.write(text) != text.size() || !file.flush() || !file.commit())
        return Failure{file.errorString()};
    return {};
}

QString GeneratorState::table() const
{
    QString text = QStringLiteral("channel  delay  width  (steps)");
    for (int number = 1; number <= kChannelCount; ++number) {
        text += QStringLiteral("\n%1  %2  %3")
                        .arg(number, 7)
                        .arg(channel(number).delaySteps, 5)
                        .arg(channel(number).widthSteps, 5);
    }
    return text;
}
