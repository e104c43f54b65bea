#include "app/commandline.h"

#include "common/program.h"
#include "device/portdiscovery.h"
#include "session/recordoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

Result<WindowOptions> windowOptionsFromCommandLine(QCommandLineParser &parser,
                                                   const QStringList &arguments)
{
    parser.setApplicationDescription(QCoreApplication::translate(
            "main", "Sets each channel's delay and pulse width of a Kestrane pulse generator."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption port(
            QStringLiteral("port"),
            QCoreApplication::translate("main",
                                        "Also offer <path>, whatever its USB identifiers, after "
                                        "the generators found (a simulator's link, a "
                                        "/dev/serial/by-id name). May be repeated."),
            QStringLiteral("path"));
    parser.addOption(port);
    addRecordOptions(parser);

    if (const Result<void> parsed = parseOptionsOnly(parser, arguments); !parsed)
        return Failure{parsed.error()};
    WindowOptions options;
    for (const QString &name : parser.values(port))
        options.namedPorts.append(resolvePortName(name));
    const Result<RecordSettings> record = recordSettingsFrom(parser);
    if (!record)
        return Failure{record.error()};
    options.record = record.value();
    return options;
}
