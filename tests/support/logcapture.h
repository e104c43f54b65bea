#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QStringList>
#include <QtGlobal>

// Records every debug and critical line as Qt's default handler would print it, and still
// passes it on. Debug output is turned on while a capture lives, whatever
// the platform's logging rules say.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList takeLines();
    // The categories of the lines taken so far and not yet taken.
    QStringList categories() const;

private:
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &message);
};

#endif // LOGCAPTURE_H
