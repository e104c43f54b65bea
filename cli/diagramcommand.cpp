#include "cli/diagramcommand.h"

#include "cli/ctloutput.h"
#include "cli/ctlrequest.h"
#include "cli/frameplan.h"

#include "common/program.h"
#include "diagram/timingdiagram.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// A regular file is replaced through a temporary file beside it; a device
// or a FIFO (/dev/stdout) is written as it is, never replaced.
Result<void> writeFile(const QString &path, const QByteArray &bytes)
{
    const auto failed = [&](const QFileDevice &file) {
        return Failure{QStringLiteral("cannot write %1: %2").arg(path, file.errorString())};
    };
    if (QFileInfo::exists(path) && !QFileInfo(path).isFile()) {
        QFile device(path);
        if (device.open(QIODevice::WriteOnly) && device.write(bytes) == bytes.size()
            && device.flush())
            return {};
        return failed(device);
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return {};
    return failed(file);
}

} // namespace

int drawProfileDiagram(const CtlRequest &request)
{
    const QString &path = request.profilePath;
    const Result<QString> text = readChannelFile(path);
    if (!text)
        return fail(kExitUsage, text.error());
    const Result<QList<ProfileChannel>> profile = readProfile(path, text.value());
    if (!profile)
        return fail(kExitUsage, profile.error());
    ChannelTimings channels;
    ChannelLabels labels;
    for (const auto &[record, label] : profile.value()) {
        const PlannedPulse pulse
                = planPulse(record.delay, record.width, recordOrigin(path, record));
        if (!pulse.warning.isEmpty())
            warn(pulse.warning);
        channels[std::size_t(record.channel - 1)] = pulse.steps;
        labels[std::size_t(record.channel - 1)] = label.value_or(QString());
    }
    const QByteArray svg = renderTimingDiagram(channels, labels);
    const Result<void> written
            = request.outputPath.isEmpty() ? writeOutput(svg) : writeFile(request.outputPath, svg);
    return written ? 0 : fail(kExitFailure, written.error());
}
