#include "common/program.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

void setProgramIdentity(const QString &name)
{
    QCoreApplication::setApplicationName(name);
    QCoreApplication::setApplicationVersion(QStringLiteral(KESTRANE_VERSION));
}

int fail(int exitCode, const QString &message)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                 qPrintable(message));
    return exitCode;
}

std::optional<int> commandLineExit(const QCommandLineParser &parser, const QString &error,
                                   const QString &helpText)
{
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(helpText.isEmpty() ? parser.helpText() : helpText), stdout);
        return kExitSuccess;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                    qPrintable(QCoreApplication::applicationVersion()));
        return kExitSuccess;
    }
    if (error.isEmpty())
        return std::nullopt;
    return fail(
            kExitUsage,
            QStringLiteral("%1\nTry '%2 --help'.").arg(error, QCoreApplication::applicationName()));
}

Result<void> parseOptionsOnly(QCommandLineParser &parser, const QStringList &arguments)
{
    if (!parser.parse(arguments))
        return Failure{parser.errorText()};
    if (!parser.positionalArguments().isEmpty())
        return Failure{QStringLiteral("unexpected argument \"%1\"")
                               .arg(parser.positionalArguments().constFirst())};
    return {};
}

Result<int> boundedNumberOption(const QCommandLineParser &parser, const QString &name, int fallback,
                                int minimum, int maximum)
{
    if (!parser.isSet(name))
        return fallback;
    bool ok = false;
    const int number = parser.value(name).toInt(&ok);
    if (ok && number >= minimum && number <= maximum)
        return number;
    return Failure{QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                           .arg(name)
                           .arg(minimum)
                           .arg(maximum)
                           .arg(parser.value(name))};
}
