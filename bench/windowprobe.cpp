// The kestrane program as a user starts it (app/main.cpp), with one event
// filter added that reports when its window is exposed, then ends it.
#include "app/commandline.h"
#include "app/dialog.h"
#include "bench/exposereporter.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const ExposeReporter reporter(app);
    QApplication::setApplicationName(QStringLiteral("kestrane"));
    QApplication::setApplicationVersion(QStringLiteral(KESTRANE_VERSION));

    QCommandLineParser parser;
    const Result<QStringList> namedPorts = namedPortsFromCommandLine(parser, app.arguments());
    if (!namedPorts)
        return 2;

    Dialog dialog(systemPorts, namedPorts.value());
    dialog.show();
    return app.exec();
}
