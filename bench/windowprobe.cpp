// The kestrane program as a user starts it, with one event filter added
// that reports when its window is exposed, then ends it.
#include "app/runwindow.h"
#include "bench/exposereporter.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const ExposeReporter reporter(app);
    return runWindow(app);
}
