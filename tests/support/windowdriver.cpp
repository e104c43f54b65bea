#include "tests/support/windowdriver.h"

#include "device/generatorids.h"

#include <QPushButton>
#include <QSpinBox>
#include <QTest>

namespace {
const QStringList widgetNames{"lPort",    "cbPortList",   "pbConnect", "pbUpdate",
                              "lChannel", "lDelay",       "lWidth",    "sbChannel",
                              "sbDelay",  "sbPulseWidth", "pbSet",     "pbSave"};
const QString answerPrefix = QStringLiteral("answer:  \"");
} // namespace

const QStringList noDeviceEnabled{"lPort", "pbUpdate"};
const QStringList deviceFoundEnabled{"lPort", "cbPortList", "pbConnect", "pbUpdate"};
const QStringList connectedEnabled{"lChannel", "lDelay",       "lWidth", "sbChannel",
                                   "sbDelay",  "sbPulseWidth", "pbSet",  "pbSave"};

PortDescription generatorAt(const QString &path)
{
    return {path, path, kGeneratorVendorId, kGeneratorProductId};
}

QStringList enabledWidgets(const QWidget &window)
{
    QStringList enabled;
    for (const QString &name : widgetNames) {
        if (child<QWidget>(window, qPrintable(name))->isEnabled())
            enabled.append(name);
    }
    return enabled;
}

void click(const QWidget &window, const char *button)
{
    QTest::mouseClick(child<QPushButton>(window, button), Qt::LeftButton);
}

void enterPulse(const QWidget &window, int channel, int delayPs, int widthPs)
{
    child<QSpinBox>(window, "sbChannel")->setValue(channel);
    child<QSpinBox>(window, "sbDelay")->setValue(delayPs);
    child<QSpinBox>(window, "sbPulseWidth")->setValue(widthPs);
}

int fieldValue(const QWidget &window, const char *spinBox)
{
    return child<QSpinBox>(window, spinBox)->value();
}

QString answerLine(const QString &quotedReply)
{
    return answerPrefix + quotedReply + u'"';
}

QString quotedReply(const QString &answerLine)
{
    if (!answerLine.startsWith(answerPrefix) || !answerLine.endsWith(u'"'))
        return QStringLiteral("(not an answer: %1)").arg(answerLine);
    return answerLine.mid(answerPrefix.size()).chopped(1);
}
