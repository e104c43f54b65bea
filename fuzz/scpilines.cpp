// SCPI lines as a network client may send them, through the parser and a
// client's interpreter on a session without a generator: never a crash or a
// leak, never more answers than queries, none for commands, one for every
// query of a line that raised no error, and an error queue that stays
// bounded and answers in SCPI's own format.
#include "fuzz/fuzzarguments.h"
#include "instrument/generatorlock.h"
#include "instrument/scpiinterpreter.h"
#include "session/generatorsession.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QRegularExpression>

namespace {

// The fields of an answer, split at the ";" outside quoted strings.
qsizetype fieldCount(const QByteArray &answer)
{
    if (answer.isEmpty())
        return 0;
    qsizetype fields = 1;
    bool quoted = false;
    for (const char c : answer) {
        if (c == '"')
            quoted = !quoted;
        else if (c == ';' && !quoted)
            ++fields;
    }
    return fields;
}

QByteArray run(ScpiInterpreter &interpreter, const QByteArray &line)
{
    QByteArray answer;
    bool done = false;
    QEventLoop loop;
    const QMetaObject::Connection connection = QObject::connect(
            &interpreter, &ScpiInterpreter::lineDone, [&](const QByteArray &response) {
                answer = response;
                done = true;
                loop.quit();
            });
    interpreter.execute(line);
    if (!done)
        loop.exec();
    QObject::disconnect(connection);
    return answer;
}

bool clearsStatus(const ScpiLine &parsed)
{
    for (const ScpiCommand &command : parsed.commands) {
        if (command.header == ScpiHeader::ClearStatus || command.header == ScpiHeader::EventStatus)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_scpilines";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("kestrane.*.debug=false"));
    static const QRegularExpression errorList(
            QStringLiteral(R"(^-?[0-9]+,"([^",]|"")*"(,-?[0-9]+,"([^",]|"")*")*$)"));

    GeneratorSession session(QStringLiteral("/nonexistent/kestrane-fuzz"));
    GeneratorLock lock;
    const LockHolder client(lock, QStringLiteral("fuzzer"));
    ScpiInterpreter interpreter(session, client);
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const QByteArray &line : input.split('\n')) {
        run(interpreter, "*CLS");
        const ScpiLine parsed = parseScpiLine(line);
        qsizetype queries = 0;
        for (const ScpiCommand &command : parsed.commands)
            queries += command.query ? 1 : 0;
        const qsizetype fields = fieldCount(run(interpreter, line));
        FUZZ_CHECK(fields <= queries);
        if (!clearsStatus(parsed) && run(interpreter, "*ESR?") == "0")
            FUZZ_CHECK(fields == queries);
        FUZZ_CHECK(run(interpreter, "SYST:ERR:COUN?").toInt() <= ScpiStatus::kErrorQueueLength);
        FUZZ_CHECK(
                errorList.match(QString::fromLatin1(run(interpreter, "SYST:ERR:ALL?"))).hasMatch());
    }
    return 0;
}
