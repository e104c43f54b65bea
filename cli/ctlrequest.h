#ifndef CTLREQUEST_H
#define CTLREQUEST_H

#include <QString>
#include <QStringList>

#include <optional>

// What one run of kestrane-ctl is asked to do.
struct CtlRequest
{
    enum Command { List, Set, Save, Apply };
    Command command = List;
    QString portName; // empty: the one generator found
    bool dryRun = false;
    bool saveAfterApply = false;
    int channel = 0;
    int delayPs = 0;
    int widthPs = 0;
    QString profilePath;
};

// On --help or --version, *exitCode is 0 and *message the text to print;
// on a usage error it is 2 and *message says what is wrong.
std::optional<CtlRequest> parseCtlRequest(const QStringList &arguments, int *exitCode,
                                          QString *message);

#endif // CTLREQUEST_H
