#ifndef SCPICONNECTION_H
#define SCPICONNECTION_H

#include <QObject>

class GeneratorSession;
class QTcpSocket;
class ScpiInterpreter;

// One client: moves lines from its socket to its interpreter and answers
// back. It holds at most kMaxLineBytes of what the client sent and a bounded
// backlog of answers; beyond that it stops reading and TCP makes the client
// wait.
class ScpiConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kMaxLineBytes = 64 * 1024;
    static constexpr qint64 kMaxUnsentBytes = 1024 * 1024;

    // Takes the socket over; deletes itself once the client has gone and
    // its last line has run.
    ScpiConnection(QTcpSocket *socket, GeneratorSession &session, QObject *parent = nullptr);

private:
    void readLines();
    bool skipLongLine();
    void answer(const QByteArray &response);

    QTcpSocket *socket;
    ScpiInterpreter *interpreter;
    bool skippingLongLine = false;
    bool reading = false;
};

#endif // SCPICONNECTION_H
