#include "app/commandline.h"

#include "device/portdiscovery.h"

#include <QCommandLineParser>
#include <QCoreApplication>

Result<QStringList> namedPortsFromCommandLine(QCommandLineParser &parser,
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

    if (!parser.parse(arguments))
        return Failure{parser.errorText()};
    if (!parser.positionalArguments().isEmpty())
        return Failure{QStringLiteral("unexpected argument \"%1\"")
                               .arg(parser.positionalArguments().constFirst())};
    QStringList named;
    for (const QString &name : parser.values(port))
        named.append(resolvePortName(name));
    return named;
}
