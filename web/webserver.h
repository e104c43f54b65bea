#ifndef WEBSERVER_H
#define WEBSERVER_H

#include "common/result.h"
#include "web/generatorstatus.h"

#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QtGlobal>

#include <functional>

class GeneratorLock;
class GeneratorSession;
class WebConnections;

// The daemon's read-only web front end (Qt HTTP Server), on the session's
// thread. GET only:
//   /                    the status page (web/statuspage.h)
//   /status.json         the same, machine-readable (web/generatorstatus.h)
//   /timing.svg          the timing diagram (diagram/timingdiagram.h)
//   /journal.json        the record's last journal entries
//   /lxi/identification  the identification document (web/identification.h)
//   /status.js, /status.css  the page's script and style
// Each answer reflects every command queued on the session before the
// request came, and answers leave in the order their requests came. Every
// answer carries a Content-Security-Policy that lets a page run only the
// daemon's own script and load nothing from elsewhere.
class WebServer : public QAbstractHttpServer
{
    Q_OBJECT

public:
    static constexpr int kMaxConnections = 16;

    WebServer(GeneratorSession &session, const GeneratorLock &lock, ServedInstrument instrument,
              QObject *parent = nullptr);

    Result<void> listen(const QHostAddress &address, quint16 port);
    quint16 port() const;

protected:
    // Qt HTTP Server hands requests over differently before and after 6.5.
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;
#else
    bool handleRequest(const QHttpServerRequest &request, QHttpServerResponder &responder) override;
    void missingHandler(const QHttpServerRequest &request,
                        QHttpServerResponder &responder) override;
#endif

private:
    struct Reply;
    struct PendingAnswer;

    void answer(const QHttpServerRequest &request, const QHostAddress &localAddress,
                quint16 localPort, PendingAnswer pending);
    Reply replyTo(const QString &path, const QHostAddress &localAddress, quint16 localPort) const;
    // Runs `then` once the session has done everything queued so far.
    void whenSettled(std::function<void()> then);

    GeneratorSession &session;
    const GeneratorLock &lock;
    const ServedInstrument instrument;
    const QByteArray script;
    const QByteArray style;
    WebConnections *connections;
};

#endif // WEBSERVER_H
