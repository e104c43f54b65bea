#include "epics/pvserver.h"

#include <pv/bitSet.h>
#include <pv/configuration.h>
#include <pv/pvData.h>
#include <pv/serverContext.h>

#include <QDebug>
#include <QTimer>

#include <sstream>
#include <stdexcept>

namespace pva = epics::pvAccess;
namespace pvd = epics::pvData;

namespace {

// The session retries a link that is down once a second and says why it
// failed only when asked: the link's variable asks as often.
constexpr int kLinkRefreshMs = 1000;

// Hands a client's put to its variable's row, on the server's thread. The
// session's calls are made after the variables, before the server starts.
class PutHandler : public pvas::SharedPV::Handler
{
public:
    PutHandler(const ProcessVariable &variable, int channel,
               const std::unique_ptr<SessionCalls> &calls) :
        variable(variable),
        channel(channel),
        calls(calls)
    {}

    void onPut(const pvas::SharedPV::shared_pointer &, pvas::Operation &operation) override
    {
        const QString refusal
                = variable.put != nullptr
                          ? variable.put(*calls, channel, operation.value(), operation.changed())
                          : QStringLiteral("%1 is read only").arg(QLatin1String(variable.name));
        operation.complete(refusal.isEmpty() ? pvd::Status::Ok
                                             : pvd::Status::error(refusal.toStdString()));
    }

private:
    const ProcessVariable &variable;
    const int channel;
    const std::unique_ptr<SessionCalls> &calls;
};

bool isLoopback(const QString &address)
{
    return address.startsWith(QLatin1String("127."));
}

// The environment's EPICS settings, but for where the server listens and,
// on loopback, where its beacons go: nowhere else.
pva::Configuration::shared_pointer serverConfiguration(const QString &listenAddress)
{
    pva::ConfigurationBuilder builder;
    builder.push_env();
    builder.add("EPICS_PVAS_INTF_ADDR_LIST", listenAddress.toStdString());
    if (isLoopback(listenAddress)) {
        builder.add("EPICS_PVAS_BEACON_ADDR_LIST", listenAddress.toStdString());
        builder.add("EPICS_PVAS_AUTO_BEACON_ADDR_LIST", std::string("NO"));
    }
    builder.push_map();
    return builder.build();
}

bool sameLink(const LinkView &one, const LinkView &other)
{
    return one.up == other.up && one.portName == other.portName && one.problem == other.problem;
}

} // namespace

PvServer::PvServer(const Settings &settings) :
    provider("kestrane")
{
    const GeneratorView starting{{false, settings.port, QStringLiteral("starting")}, {}, {}};
    for (const ProcessVariable &variable : processVariables()) {
        for (int channel = variable.perChannel ? 1 : 0;
             channel <= (variable.perChannel ? kChannelCount : 0); ++channel) {
            Served one{
                    &variable, channel,
                    pvas::SharedPV::build(std::make_shared<PutHandler>(variable, channel, calls))};
            const std::shared_ptr<pvd::PVStructure> value = variable.make(channel);
            pvd::BitSet ignored;
            variable.show(*value, ignored, starting, channel);
            one.pv->open(*value);
            provider.add(processVariableName(settings.prefix, variable, channel).toStdString(),
                         one.pv);
            served.push_back(std::move(one));
        }
    }
    calls = std::make_unique<SessionCalls>(
            QStringLiteral("epics"), settings.port, settings.replyTimeoutMs,
            [this, settings](GeneratorSession &session) {
                session.keepRecord(settings.record, settings.restore);
                watch(session);
            });
}

Result<std::unique_ptr<PvServer>> PvServer::start(const Settings &settings)
{
    std::unique_ptr<PvServer> server(new PvServer(settings));
    try {
        server->context = pva::ServerContext::create(
                pva::ServerContext::Config()
                        .config(serverConfiguration(settings.listenAddress))
                        .provider(server->provider.provider()));
    } catch (const std::exception &error) {
        return Failure{QStringLiteral("cannot serve PVAccess: %1").arg(error.what())};
    }
    return server;
}

PvServer::~PvServer()
{
    if (context) {
        context->shutdown();
        context.reset();
    }
    calls.reset();
    provider.close(true);
}

int PvServer::tcpPort() const
{
    return context->getServerPort();
}

void PvServer::watch(GeneratorSession &session)
{
    const auto postChannel = [this, &session](int channel) { post(viewOf(session), channel); };
    QObject::connect(&session, &GeneratorSession::channelChanged, &session, postChannel);
    QObject::connect(&session.record(), &GeneratorRecord::labelChanged, &session, postChannel);
    QObject::connect(&session, &GeneratorSession::linkChanged, &session,
                     [this, &session] { refreshLink(session); });
    auto *refresh = new QTimer(&session);
    QObject::connect(refresh, &QTimer::timeout, &session,
                     [this, &session] { refreshLink(session); });
    refresh->start(kLinkRefreshMs);
    // Once the session has made its first try.
    QTimer::singleShot(0, &session, [this, &session] { refreshLink(session); });
}

// The link's variable and, since an unknown channel says why, every channel's.
void PvServer::refreshLink(GeneratorSession &session)
{
    const GeneratorView view = viewOf(session);
    if (shownLink && sameLink(*shownLink, view.link))
        return;
    shownLink = view.link;
    if (view.link.up)
        qInfo().noquote() << "link up:" << view.link.portName;
    else
        qInfo().noquote() << "no link to the generator:"
                          << (view.link.problem.isEmpty() ? view.link.portName : view.link.problem);
    for (int channel = 0; channel <= kChannelCount; ++channel)
        post(view, channel);
}

// The variables of one channel, or the generator's for channel 0, that show
// something new: a monitor or an archiver sees each change once.
void PvServer::post(const GeneratorView &view, int channel)
{
    for (const Served &one : served) {
        if (one.channel != channel)
            continue;
        const std::shared_ptr<pvd::PVStructure> value = one.pv->build();
        pvd::BitSet changed;
        one.variable->show(*value, changed, view, channel);
        const std::shared_ptr<pvd::PVStructure> shown = one.pv->build();
        pvd::BitSet valid;
        one.pv->fetch(*shown, valid);
        // As clients print them: NaN, an unknown time, equals itself there.
        const auto same = [&](const char *name) {
            std::ostringstream before;
            std::ostringstream after;
            before << *shown->getSubFieldT(name);
            after << *value->getSubFieldT(name);
            return before.str() == after.str();
        };
        if (!same("value") || !same("alarm"))
            one.pv->post(*value, changed);
    }
}
