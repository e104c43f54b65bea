#include "scpi/scpistring.h"

#include "common/escapedbytes.h"

QByteArray quotedScpiString(const QByteArray &bytes)
{
    return '"' + escapedBytes(bytes).replace('"', "\"\"") + '"';
}

QByteArray quotedScpiText(const QString &text)
{
    return '"' + text.toUtf8().replace('"', "\"\"") + '"';
}

Result<QByteArray, ScpiError> unquotedScpiString(const QByteArray &parameter)
{
    const char quote = parameter.isEmpty() ? '\0' : parameter.front();
    const Failure<ScpiError> notAString{
            {ScpiErrorCode::DataTypeError,
             QStringLiteral("a quoted string: not ") + QString::fromUtf8(parameter.left(40))}};
    if ((quote != '"' && quote != '\'') || parameter.size() < 2 || parameter.back() != quote)
        return notAString;
    const QByteArray inside = parameter.mid(1, parameter.size() - 2);
    const QByteArray doubled(2, quote);
    QByteArray text;
    for (qsizetype at = 0; at < inside.size(); ++at) {
        if (inside[at] == quote) {
            if (inside.mid(at, 2) != doubled)
                return notAString;
            ++at;
        }
        text += inside[at];
    }
    return text;
}
