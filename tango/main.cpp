#include "tango/pulsegeneratorclass.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <tango/tango.h>

#include <cstring>
#include <thread>

void Tango::DServer::class_factory()
{
    add_class(KestranePulseGeneratorClass::init("KestranePulseGenerator"));
}

namespace {

void setIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("kestrane-tango"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KESTRANE_VERSION));
}

// Tango takes the rest of the command line; only these two are ours.
bool isHelpOrVersion(int argc, char *argv[])
{
    return argc == 2
           && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "--version") == 0);
}

int printHelpOrVersion(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    setIdentity();
    QCommandLineParser parser;
    parser.setApplicationDescription(
            QStringLiteral("Tango Controls device server for 16-channel pulse generators (class "
                           "KestranePulseGenerator).\n\n"
                           "With a Tango database (TANGO_HOST set): kestrane-tango INSTANCE\n"
                           "Without one, from a file database: kestrane-tango INSTANCE -file=FILE "
                           "-ORBendPoint giop:tcp:127.0.0.1:PORT\n\n"
                           "Device properties: Port (a path or port name; empty: the one generator "
                           "attached), ReplyTimeout (ms, default 100)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (isHelpOrVersion(argc, argv))
        return printHelpOrVersion(argc, argv);

    // Tango first: the devices exist before the Qt application does.
    Tango::Util *tango = nullptr;
    try {
        tango = Tango::Util::init(argc, argv);
        tango->server_init();
    } catch (const CORBA::Exception &error) {
        Tango::Except::print_exception(error);
        return 1;
    }

    QCoreApplication app(argc, argv);
    setIdentity();
    KestranePulseGeneratorClass::instance()->startSessions();

    int exitCode = 0; // read after join
    std::thread orb([tango, &exitCode] {
        omni_thread::create_dummy();
        try {
            tango->server_run();
        } catch (const CORBA::Exception &error) {
            Tango::Except::print_exception(error);
            exitCode = 1;
        }
        // Kill, SIGINT and SIGTERM all end server_run.
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
        omni_thread::release_dummy();
    });
    app.exec();
    if (!tango->is_svr_shutting_down())
        tango->shutdown_ds();
    orb.join();
    tango->server_cleanup();
    return exitCode;
}
