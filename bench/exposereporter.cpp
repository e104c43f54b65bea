#include "bench/exposereporter.h"
#include "bench/monotonicclock.h"

#include <QApplication>
#include <QWindow>

#include <cstdio>

ExposeReporter::ExposeReporter(QApplication &app)
{
    app.installEventFilter(this);
}

// The expose event is caught as the window system delivers it, so the time
// is exact to the clock. Polling QWindow::isExposed(), as
// QTest::qWaitForWindowExposed does, would round it up to the poll step.
bool ExposeReporter::eventFilter(QObject *watched, QEvent *event)
{
    if (!reported && event->type() == QEvent::Expose) {
        const auto *window = qobject_cast<QWindow *>(watched);
        // Qt marks the window exposed before it delivers the event.
        if (window != nullptr && window->isExposed()) {
            reported = true;
            std::printf("%lld\n", static_cast<long long>(monotonicNs()));
            std::fflush(stdout);
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        }
    }
    return QObject::eventFilter(watched, event);
}
