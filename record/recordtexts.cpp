#include "record/recordtexts.h"

#include <QList>
#include <QStringDecoder>

namespace {

bool isPrintable(char32_t codePoint)
{
    switch (QChar::category(codePoint)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return false;
    default:
        return true;
    }
}

Result<QString> checkedText(const QString &text, const QString &what, int most)
{
    const QList<uint> codePoints = text.toUcs4();
    if (codePoints.size() > most)
        return Failure{QStringLiteral("a %1 has at most %2 characters, not %3")
                               .arg(what)
                               .arg(most)
                               .arg(codePoints.size())};
    for (qsizetype index = 0; index < codePoints.size(); ++index) {
        if (!isPrintable(codePoints[index]))
            return Failure{QStringLiteral("character %1 of the %2 is not printable (U+%3)")
                                   .arg(index + 1)
                                   .arg(what)
                                   .arg(codePoints[index], 4, 16, QLatin1Char('0'))};
    }
    return text;
}

} // namespace

Result<QString> checkedLabel(const QString &label)
{
    return checkedText(label, QStringLiteral("label"), kMaxLabelLength);
}

Result<QString> checkedSetupName(const QString &name)
{
    if (name.isEmpty())
        return Failure{QStringLiteral("a setup's name has at least one character")};
    return checkedText(name, QStringLiteral("setup's name"), kMaxSetupNameLength);
}

Result<QString> decodedUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return Failure{QStringLiteral("not UTF-8")};
    return text;
}
