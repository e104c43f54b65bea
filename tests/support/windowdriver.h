#ifndef WINDOWDRIVER_H
#define WINDOWDRIVER_H

#include "device/portdiscovery.h"

#include <QStringList>
#include <QWidget>

// Drives the Kestrane window as a user would, reaching its widgets by
// object name.

// The enabled widgets in each state of the window, in form order.
extern const QStringList noDeviceEnabled;
extern const QStringList deviceFoundEnabled;
extern const QStringList connectedEnabled;

PortDescription generatorAt(const QString &path);

template<typename T>
T *child(const QWidget &window, const char *name)
{
    T *widget = window.findChild<T *>(QLatin1String(name));
    if (!widget)
        qFatal("the window has no %s", name);
    return widget;
}

QStringList enabledWidgets(const QWidget &window);
void click(const QWidget &window, const char *button);
void enterPulse(const QWidget &window, int channel, int delayPs, int widthPs);
int fieldValue(const QWidget &window, const char *spinBox);

// The log line of a reply, given as it appears between the quotes.
QString answerLine(const QString &quotedReply);
// The reply in a log line made by answerLine(), still quoted.
QString quotedReply(const QString &answerLine);

#endif // WINDOWDRIVER_H
