#include "common/commandlineexit.h"

#include <QCommandLineParser>

#include <cstdio>
#include <cstdlib>

namespace {
constexpr int kExitUsageError = 2;
}

void endOnHelpVersionOrUsageError(QCommandLineParser &parser, const QString &error)
{
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp();
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (error.isEmpty())
        return;
    std::fprintf(stderr, "%s\n%s", qPrintable(error), qPrintable(parser.helpText()));
    std::exit(kExitUsageError);
}
