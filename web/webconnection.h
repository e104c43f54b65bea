#ifndef WEBCONNECTION_H
#define WEBCONNECTION_H

#include <QTcpSocket>

class QTimer;

// One web client's connected socket, bounded whatever the client does: at
// most kMaxRequestBytes may arrive between two answers (no request here
// has a body, and Qt HTTP Server holds a request whole until it is
// complete), at most kMaxUnsentBytes of answers wait for a client that
// does not read them, and a connection that has had no answer for kIdleMs
// is closed. A client beyond a bound is cut off.
class WebConnection : public QTcpSocket
{
    Q_OBJECT

public:
    static constexpr qint64 kMaxRequestBytes = 16 * 1024;
    static constexpr qint64 kMaxUnsentBytes = 1024 * 1024;
    static constexpr int kIdleMs = 10000;

    explicit WebConnection(QObject *parent = nullptr);

protected:
    qint64 writeData(const char *data, qint64 length) override;

private:
    void countArrived();
    void answerWritten();
    void cutOff();

    QTimer *idleTimer;
    qint64 arrivedSinceAnswer = 0;
    bool cuttingOff = false;
};

#endif // WEBCONNECTION_H
