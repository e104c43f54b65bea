#include "app/runwindow.h"

#include "app/commandline.h"
#include "app/dialog.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

namespace {
constexpr int kExitUsageError = 2;
}

int runWindow(QApplication &app)
{
    QApplication::setApplicationName(QStringLiteral("kestrane"));
    QApplication::setApplicationVersion(QStringLiteral(KESTRANE_VERSION));

    QCommandLineParser parser;
    const Result<QStringList> namedPorts = namedPortsFromCommandLine(parser, app.arguments());
    if (!namedPorts) {
        std::fprintf(stderr, "kestrane: %s\nTry 'kestrane --help'.\n",
                     qPrintable(namedPorts.error()));
        return kExitUsageError;
    }

    Dialog dialog(systemPorts, namedPorts.value());
    dialog.show();
    return app.exec();
}
