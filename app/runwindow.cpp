#include "app/runwindow.h"

#include "app/commandline.h"
#include "app/dialog.h"

#include "common/program.h"

#include <QApplication>
#include <QCommandLineParser>

int runWindow(QApplication &app)
{
    setProgramIdentity(QStringLiteral("kestrane"));

    QCommandLineParser parser;
    const Result<QStringList> namedPorts = namedPortsFromCommandLine(parser, app.arguments());
    if (const std::optional<int> exitCode = commandLineExit(parser, namedPorts.error()))
        return *exitCode;

    Dialog dialog(systemPorts, namedPorts.value());
    dialog.show();
    return app.exec();
}
