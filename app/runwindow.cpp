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
    const Result<WindowOptions> options = windowOptionsFromCommandLine(parser, app.arguments());
    if (const std::optional<int> exitCode = commandLineExit(parser, options.error()))
        return *exitCode;

    Dialog dialog(systemPorts, options->namedPorts);
    dialog.keepRecord(options->record);
    dialog.show();
    return app.exec();
}
