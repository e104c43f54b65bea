#include "tango/pulsegeneratorclass.h"

#include "common/program.h"
#include "common/terminationsignals.h"
#include "session/recordoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <tango/tango.h>

// Not part of tango.h; cppTango 10 moved it.
#if __has_include(<tango/server/dserversignal.h>)
#include <tango/server/dserversignal.h>
#else
#include <tango/dserversignal.h>
#endif

#include <cstring>
#include <thread>

namespace {

// Read from the command line before Tango starts; every device keeps its
// record so (its Restore property may choose another start).
ServerRecord serverRecord;

// Tango takes the rest of the command line: --help and --version only alone.
void describeOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
            QStringLiteral("Tango Controls device server for 16-channel pulse generators (class "
                           "KestranePulseGenerator).\n\n"
                           "With a Tango database (TANGO_HOST set): kestrane-tango INSTANCE "
                           "[OPTIONS]\n"
                           "Without one, from a file database: kestrane-tango INSTANCE -file=FILE "
                           "-ORBendPoint giop:tcp:127.0.0.1:PORT [OPTIONS]\n\n"
                           "Device properties: Port (a path or port name; empty: the one generator "
                           "attached), ReplyTimeout (ms, default 100), Restore (none, last or "
                           "saved; unset: --restore)."));
    parser.addOptions({
            {QStringLiteral("help"),
             QStringLiteral("Print this help and exit (only as the one argument).")},
            {QStringLiteral("version"),
             QStringLiteral("Print the version and exit (only as the one argument).")},
    });
    addRecordOptions(parser, RestoreOption::With);
}

bool isHelpOrVersion(int argc, char *argv[])
{
    return argc == 2
           && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "--version") == 0);
}

// The record's options taken out of argv, which keeps Tango's; a usage
// error's exit code when they are wrong.
std::optional<int> takeRecordOptions(int &argc, char *argv[])
{
    QStringList arguments;
    for (int index = 1; index < argc; ++index)
        arguments << QString::fromLocal8Bit(argv[index]);
    const QStringList taken = takeRecordArguments(arguments);
    QCommandLineParser parser;
    describeOptions(parser);
    QString error;
    if (!parser.parse(QStringList{QString::fromLocal8Bit(argv[0])} + taken)) {
        error = parser.errorText();
    } else if (const Result<RecordSettings> settings = recordSettingsFrom(parser); !settings) {
        error = settings.error();
    } else if (const Result<RestoreMode> restore = restoreModeFrom(parser); !restore) {
        error = restore.error();
    } else {
        serverRecord = {settings.value(), restore.value()};
    }
    if (!error.isEmpty())
        return commandLineExit(parser, error);
    // What is left, in order: every argument of Tango's is an argv entry as it came.
    int kept = 1;
    for (int index = 1; index < argc; ++index) {
        if (kept <= arguments.size() && arguments[kept - 1] == QString::fromLocal8Bit(argv[index]))
            argv[kept++] = argv[index];
    }
    argc = kept;
    argv[argc] = nullptr;
    return std::nullopt;
}

int printHelpOrVersion(int argc, char *argv[])
{
    const QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    describeOptions(parser);
    const bool parsed = parser.parse(QCoreApplication::arguments());
    return commandLineExit(parser, parsed ? QString() : parser.errorText()).value_or(kExitSuccess);
}

} // namespace

void Tango::DServer::class_factory()
{
    add_class(KestranePulseGeneratorClass::init("KestranePulseGenerator", serverRecord));
}

int main(int argc, char *argv[])
{
    setProgramIdentity(QStringLiteral("kestrane-tango"));
    if (isHelpOrVersion(argc, argv))
        return printHelpOrVersion(argc, argv);
    if (const std::optional<int> usageError = takeRecordOptions(argc, argv))
        return *usageError;

    // SIGINT, SIGTERM and SIGHUP end the event loop whenever they come: Tango
    // itself would end a server still starting with exit code 255 or SIGKILL.
    // Its signal thread resets and blocks them once, when first asked for.
    QCoreApplication app(argc, argv);
    Tango::DServerSignal::instance();
    if (!quitOnTerminationSignals(app) || !unblockTerminationSignals() || !ignoreBrokenPipes())
        return fail(kExitFailure, QStringLiteral("cannot set up its signal handling"));
    Tango::Util *tango = nullptr;
    try {
        tango = Tango::Util::init(argc, argv);
        // Each device opens its link as it is made.
        tango->server_init();
    } catch (const CORBA::Exception &error) {
        Tango::Except::print_exception(error);
        return kExitFailure;
    }

    int exitCode = kExitSuccess; // read after join
    std::thread orb([tango, &app, &exitCode] {
        omni_thread::create_dummy();
        try {
            tango->server_run();
        } catch (const CORBA::Exception &error) {
            // The admin device's Kill may come before the ORB runs.
            if (!tango->is_svr_shutting_down()) {
                Tango::Except::print_exception(error);
                exitCode = kExitFailure;
            }
        }
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
        omni_thread::release_dummy();
    });
    // Ends every session when it returns: from then on no ORB thread waits
    // for this one.
    QCoreApplication::exec();
    if (!tango->is_svr_shutting_down())
        tango->shutdown_ds();
    orb.join();
    tango->server_cleanup();
    return exitCode;
}
