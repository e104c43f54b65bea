#include "web/webserver.h"

#include "diagram/timingdiagram.h"
#include "session/generatorsession.h"
#include "web/identification.h"
#include "web/statuspage.h"
#include "web/webconnections.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QPointer>
#include <QTcpSocket>

#include <memory>
#include <utility>

namespace {

// Only the daemon's own script, style and status, nothing from elsewhere,
// no inline script, no forms, no framing.
const QByteArray kContentSecurityPolicy
        = "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
          "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

QByteArray resource(const QString &name)
{
    QFile file(QStringLiteral(":/web/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

struct WebServer::Reply
{
    QHttpServerResponder::StatusCode status = QHttpServerResponder::StatusCode::Ok;
    QByteArray contentType;
    QByteArray body;
};

struct WebServer::PendingAnswer
{
    QHttpServerResponder responder;
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
    // Such a responder holds the bare socket, deleted once its client is gone.
    QPointer<QTcpSocket> socket;
    bool canAnswer() const
    {
        return !socket.isNull();
    }
#else
    // The responder itself knows whether its client is still there.
    static bool canAnswer()
    {
        return true;
    }
#endif
};

namespace {

void send(QHttpServerResponder &responder, QHttpServerResponder::StatusCode status,
          const QByteArray &contentType, const QByteArray &body)
{
    const std::pair<QByteArray, QByteArray> headers[] = {
            {"Content-Security-Policy", kContentSecurityPolicy},
            {"X-Content-Type-Options", "nosniff"},
            {"Referrer-Policy", "no-referrer"},
            {"Cache-Control", "no-store"},
            {"Allow", "GET"},
    };
    QHttpServerResponse response(contentType, body, status);
#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
    for (const auto &[name, value] : headers)
        response.setHeader(name, value);
    response.write(std::move(responder));
#else
    QHttpHeaders all = response.headers();
    for (const auto &[name, value] : headers)
        all.append(name, value);
    response.setHeaders(std::move(all));
    responder.sendResponse(response);
#endif
}

} // namespace

WebServer::WebServer(GeneratorSession &session, const GeneratorLock &lock,
                     ServedInstrument instrument, QObject *parent) :
    QAbstractHttpServer(parent),
    session(session),
    lock(lock),
    instrument(std::move(instrument)),
    script(resource(QStringLiteral("status.js"))),
    style(resource(QStringLiteral("status.css"))),
    connections(new WebConnections(kMaxConnections, this))
{}

Result<void> WebServer::listen(const QHostAddress &address, quint16 port)
{
    if (Result<void> listening = connections->open(address, port); !listening)
        return listening;
    bind(connections);
    return {};
}

quint16 WebServer::port() const
{
    return connections->serverPort();
}

#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
bool WebServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    answer(request, socket->localAddress(), socket->localPort(),
           {makeResponder(request, socket), socket});
    return true;
}

void WebServer::missingHandler(const QHttpServerRequest &, QTcpSocket *) {}
#else
bool WebServer::handleRequest(const QHttpServerRequest &request, QHttpServerResponder &responder)
{
    answer(request, request.localAddress(), request.localPort(), {std::move(responder)});
    return true;
}

void WebServer::missingHandler(const QHttpServerRequest &, QHttpServerResponder &) {}
#endif

void WebServer::answer(const QHttpServerRequest &request, const QHostAddress &localAddress,
                       quint16 localPort, PendingAnswer pending)
{
    auto waiting = std::make_shared<PendingAnswer>(std::move(pending));
    const bool isGet = request.method() == QHttpServerRequest::Method::Get;
    const QString path = request.url().path();
    whenSettled([this, waiting, isGet, path, localAddress, localPort] {
        if (!waiting->canAnswer())
            return;
        // Empty, as the answer to HEAD must be, and Qt HTTP Server 6.4 does
        // not leave the body out itself.
        if (!isGet)
            return send(waiting->responder, QHttpServerResponder::StatusCode::MethodNotAllowed,
                        "text/plain; charset=utf-8", {});
        const Reply reply = replyTo(path, localAddress, localPort);
        send(waiting->responder, reply.status, reply.contentType, reply.body);
    });
}

WebServer::Reply WebServer::replyTo(const QString &path, const QHostAddress &localAddress,
                                    quint16 localPort) const
{
    using Status = QHttpServerResponder::StatusCode;
    if (path == QLatin1String("/status.js"))
        return {Status::Ok, "text/javascript; charset=utf-8", script};
    if (path == QLatin1String("/status.css"))
        return {Status::Ok, "text/css; charset=utf-8", style};
    const auto status
            = [&] { return readGeneratorStatus(session, lock, instrument, localAddress); };
    if (path == QLatin1String("/"))
        return {Status::Ok, "text/html; charset=utf-8", statusPage(status())};
    if (path == QLatin1String("/status.json"))
        return {Status::Ok, "application/json", statusJson(status())};
    if (path == QLatin1String("/timing.svg")) {
        const GeneratorStatus now = status();
        return {Status::Ok, "image/svg+xml", renderTimingDiagram(now.channels, now.labels)};
    }
    if (path == QLatin1String("/journal.json"))
        return {Status::Ok, "application/json", journalJson(session, kJournalJsonEntries)};
    if (path == QLatin1String("/lxi/identification")) {
        const QString homepage = QStringLiteral("http://%1:%2/")
                                         .arg(hostText(localAddress), QString::number(localPort));
        return {Status::Ok, "text/xml; charset=utf-8", identificationDocument(status(), homepage)};
    }
    return {Status::NotFound, "text/plain; charset=utf-8", "not found\n"};
}

void WebServer::whenSettled(std::function<void()> then)
{
    if (session.isIdle())
        return then();
    session.afterPending([server = QPointer<WebServer>(this),
                          then = std::move(then)](const SessionOutcome &outcome) {
        if (server && outcome.status == SessionStatus::Done)
            then();
    });
}
