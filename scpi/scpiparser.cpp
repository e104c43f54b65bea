#include "scpi/scpiparser.h"

#include <algorithm>

namespace {

enum Forms { QueryOnly = 1, SetOnly = 2, QueryOrSet = 3 };

struct Pattern
{
    const char *path; // lower-case letters may be left out; [] optional; # numbered
    ScpiHeader header;
    int forms;
    int setParameters;
    int queryParameters = 0; // at most; MIN or MAX
};

// The instrument's one table of commands.
const Pattern kPatterns[] = {
        {"*IDN", ScpiHeader::Identify, QueryOnly, 0},
        {"*RST", ScpiHeader::Reset, SetOnly, 0},
        {"*CLS", ScpiHeader::ClearStatus, SetOnly, 0},
        {"*ESE", ScpiHeader::EventEnable, QueryOrSet, 1},
        {"*ESR", ScpiHeader::EventStatus, QueryOnly, 0},
        {"*OPC", ScpiHeader::OperationComplete, QueryOrSet, 0},
        {"*SRE", ScpiHeader::ServiceEnable, QueryOrSet, 1},
        {"*STB", ScpiHeader::StatusByte, QueryOnly, 0},
        {"*WAI", ScpiHeader::Wait, SetOnly, 0},
        {"*TST", ScpiHeader::SelfTest, QueryOnly, 0},
        {"*SAV", ScpiHeader::Save, SetOnly, 1},
        {"SYSTem:ERRor:[NEXT]", ScpiHeader::ErrorNext, QueryOnly, 0},
        {"SYSTem:ERRor:ALL", ScpiHeader::ErrorAll, QueryOnly, 0},
        {"SYSTem:ERRor:COUNt", ScpiHeader::ErrorCount, QueryOnly, 0},
        {"SYSTem:VERSion", ScpiHeader::Version, QueryOnly, 0},
        {"SYSTem:LINK", ScpiHeader::Link, QueryOnly, 0},
        {"SYSTem:REPLy", ScpiHeader::Reply, QueryOnly, 0},
        {"SYSTem:LOCK:REQuest", ScpiHeader::LockRequest, QueryOnly, 0},
        {"SYSTem:LOCK:RELease", ScpiHeader::LockRelease, SetOnly, 0},
        {"SYSTem:LOCK:OWNer", ScpiHeader::LockOwner, QueryOnly, 0},
        {"[SOURce]:PULSe#:DELay", ScpiHeader::Delay, QueryOrSet, 1, 1},
        {"[SOURce]:PULSe#:WIDTh", ScpiHeader::Width, QueryOrSet, 1, 1},
        {"[SOURce]:PULSe#:TIMing", ScpiHeader::Timing, QueryOrSet, 2},
        {"[SOURce]:PULSe#:LABel", ScpiHeader::Label, QueryOrSet, 1},
        {"MMEMory:STORe:STATe", ScpiHeader::StoreSetup, SetOnly, 1},
        {"MMEMory:LOAD:STATe", ScpiHeader::LoadSetup, SetOnly, 1},
        {"MMEMory:CATalog:STATe", ScpiHeader::SetupCatalog, QueryOnly, 0},
        {"MMEMory:DELete", ScpiHeader::DeleteSetup, SetOnly, 1},
};

// A pattern that a header matches, with the number of its numbered node.
struct Match
{
    const Pattern *pattern = nullptr;
    int suffix = 1;
};

struct Node
{
    QByteArray shortForm;
    QByteArray longForm;
    bool optional = false;
    bool numbered = false;
};

// One part of a header as written, upper-cased.
struct Mnemonic
{
    QByteArray name;
    std::optional<int> suffix;
};
using Mnemonics = QList<Mnemonic>;

QList<Node> nodesOf(const char *path)
{
    QList<Node> nodes;
    for (QByteArray part : QByteArray(path).split(':')) {
        Node node;
        node.optional = part.startsWith('[');
        if (node.optional)
            part = part.mid(1, part.size() - 2);
        node.numbered = part.endsWith('#');
        if (node.numbered)
            part.chop(1);
        for (const char c : part) {
            if (!(c >= 'a' && c <= 'z'))
                node.shortForm += c;
        }
        node.longForm = part.toUpper();
        nodes.append(node);
    }
    return nodes;
}

// The suffix of the numbered node (1 when there is none or it is not
// written) when the header from `at` on matches the nodes from `node` on.
std::optional<int> matches(const Mnemonics &header, qsizetype at, const QList<Node> &nodes,
                           qsizetype node)
{
    if (node == nodes.size())
        return at == header.size() ? std::optional<int>(1) : std::nullopt;
    const Node &expected = nodes[node];
    if (at < header.size()) {
        const Mnemonic &written = header[at];
        const bool sameName
                = written.name == expected.shortForm || written.name == expected.longForm;
        if (sameName && (expected.numbered || !written.suffix)) {
            if (const std::optional<int> rest = matches(header, at + 1, nodes, node + 1))
                return expected.numbered ? written.suffix.value_or(1) : *rest;
        }
    }
    return expected.optional ? matches(header, at, nodes, node + 1) : std::nullopt;
}

std::optional<Match> find(const Mnemonics &header)
{
    static const QList<QList<Node>> patternNodes = [] {
        QList<QList<Node>> all;
        for (const Pattern &pattern : kPatterns)
            all.append(nodesOf(pattern.path));
        return all;
    }();
    for (qsizetype i = 0; i < patternNodes.size(); ++i) {
        if (const std::optional<int> suffix = matches(header, 0, patternNodes[i], 0))
            return Match{&kPatterns[i], *suffix};
    }
    return std::nullopt;
}

// Splits at `separator` outside quoted strings; nullopt when a quote is open.
std::optional<QByteArrayList> splitOutsideQuotes(const QByteArray &text, char separator)
{
    QByteArrayList parts;
    qsizetype start = 0;
    char quote = 0;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (quote) {
            quote = c == quote ? '\0' : quote;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == separator) {
            parts.append(text.mid(start, at - start));
            start = at + 1;
        }
    }
    if (quote)
        return std::nullopt;
    parts.append(text.mid(start));
    return parts;
}

bool isUpper(char c)
{
    return c >= 'A' && c <= 'Z';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// "*IDN", or "PULS3:TIM": letters (and "_" after the first), then an
// optional number, each part; nullopt when the header is none of these.
std::optional<Mnemonics> mnemonicsOf(const QByteArray &header)
{
    const QByteArray upper = header.toUpper();
    if (upper.startsWith('*')) {
        if (upper.size() < 2 || !std::all_of(upper.begin() + 1, upper.end(), isUpper))
            return std::nullopt;
        return Mnemonics{{upper, std::nullopt}};
    }
    Mnemonics mnemonics;
    for (const QByteArray &part : upper.split(':')) {
        qsizetype nameEnd = 0;
        while (nameEnd < part.size()
               && (isUpper(part[nameEnd]) || (nameEnd > 0 && part[nameEnd] == '_')))
            ++nameEnd;
        const QByteArray digits = part.mid(nameEnd);
        if (nameEnd == 0 || !std::all_of(digits.begin(), digits.end(), isDigit))
            return std::nullopt;
        Mnemonic mnemonic{part.left(nameEnd), std::nullopt};
        if (!digits.isEmpty()) {
            bool ok = false;
            const int number = digits.toInt(&ok);
            mnemonic.suffix = ok ? number : 0;
        }
        mnemonics.append(mnemonic);
    }
    return mnemonics;
}

class LineParser
{
public:
    ScpiLine parse(const QByteArray &line);

private:
    std::optional<ScpiError> parseUnit(const QByteArray &unit);

    ScpiLine result;
    Mnemonics path; // where a relative header continues
};

ScpiLine LineParser::parse(const QByteArray &line)
{
    const std::optional<QByteArrayList> units = splitOutsideQuotes(line, ';');
    if (!units) {
        result.error
                = ScpiError{ScpiErrorCode::CommandError, QStringLiteral("unterminated string")};
        return result;
    }
    for (const QByteArray &unit : *units) {
        if (unit.trimmed().isEmpty())
            continue;
        result.error = parseUnit(unit.trimmed());
        if (result.error)
            break;
    }
    return result;
}

std::optional<ScpiError> LineParser::parseUnit(const QByteArray &unit)
{
    qsizetype headerEnd = 0;
    while (headerEnd < unit.size() && !QChar::isSpace(uchar(unit[headerEnd])))
        ++headerEnd;
    QByteArray header = unit.left(headerEnd);
    const QString written = QString::fromLatin1(header);
    ScpiCommand command;
    command.query = header.endsWith('?');
    if (command.query)
        header.chop(1);
    const bool fromRoot = header.startsWith(':');
    if (fromRoot)
        header.remove(0, 1);
    const std::optional<Mnemonics> mnemonics = mnemonicsOf(header);
    if (!mnemonics)
        return ScpiError{ScpiErrorCode::CommandError,
                         QStringLiteral("malformed header ") + written};

    const bool common = header.startsWith('*');
    std::optional<Match> match;
    Mnemonics full = *mnemonics;
    if (!common && !fromRoot && !path.isEmpty()) {
        full = path + *mnemonics;
        match = find(full);
    }
    if (!match) {
        full = *mnemonics;
        match = find(full);
    }
    const int form = command.query ? QueryOnly : SetOnly;
    if (!match || !(match->pattern->forms & form))
        return ScpiError{ScpiErrorCode::UndefinedHeader, written};
    const Pattern *pattern = match->pattern;
    command.suffix = match->suffix;
    if (!common)
        path = full.mid(0, full.size() - 1);

    const QByteArray rest = unit.mid(headerEnd).trimmed();
    if (!rest.isEmpty())
        command.parameters = *splitOutsideQuotes(rest, ',');
    for (QByteArray &parameter : command.parameters) {
        parameter = parameter.trimmed();
        if (parameter.isEmpty())
            return ScpiError{ScpiErrorCode::MissingParameter, written};
    }
    const int most = command.query ? pattern->queryParameters : pattern->setParameters;
    const int least = command.query ? 0 : pattern->setParameters;
    if (command.parameters.size() > most)
        return ScpiError{ScpiErrorCode::ParameterNotAllowed, written};
    if (command.parameters.size() < least)
        return ScpiError{ScpiErrorCode::MissingParameter, written};
    command.header = pattern->header;
    result.commands.append(command);
    return std::nullopt;
}

} // namespace

ScpiLine parseScpiLine(const QByteArray &line)
{
    return LineParser().parse(line);
}

bool sendsToGenerator(const ScpiCommand &command)
{
    switch (command.header) {
    case ScpiHeader::Delay:
    case ScpiHeader::Width:
    case ScpiHeader::Timing:
        return !command.query;
    case ScpiHeader::Reset:
    case ScpiHeader::Save:
    case ScpiHeader::LoadSetup:
        return true;
    default:
        return false;
    }
}
