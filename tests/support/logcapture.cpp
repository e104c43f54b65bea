#include "tests/support/logcapture.h"

#include <QLoggingCategory>

namespace {
QtMessageHandler previousHandler = nullptr;
QStringList capturedLines;
QStringList capturedCategories;
} // namespace

LogCapture::LogCapture()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=true"));
    capturedLines.clear();
    capturedCategories.clear();
    previousHandler = qInstallMessageHandler(record);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previousHandler);
}

QStringList LogCapture::takeLines()
{
    capturedCategories.clear();
    return std::exchange(capturedLines, {});
}

QStringList LogCapture::categories() const
{
    return capturedCategories;
}

void LogCapture::record(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // The program writes debug and critical lines only; warnings come from
    // Qt's platform plugins.
    if (type != QtWarningMsg) {
        capturedLines.append(qFormatLogMessage(type, context, message));
        capturedCategories.append(QString::fromLatin1(context.category));
    }
    if (previousHandler)
        previousHandler(type, context, message);
}
