#ifndef EXPOSEREPORTER_H
#define EXPOSEREPORTER_H

#include <QObject>

QT_BEGIN_NAMESPACE
class QApplication;
QT_END_NAMESPACE

// Watches every event of the application it is given. When the first window
// becomes exposed, prints the monotonic clock (monotonicclock.h) on stdout
// and ends the program: the benchmark subtracts the time it started it.
class ExposeReporter : public QObject
{
    Q_OBJECT

public:
    explicit ExposeReporter(QApplication &app);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool reported = false;
};

#endif // EXPOSEREPORTER_H
