#include "web/statuspage.h"

#include <QStringList>

namespace {

const QString kNotKnown = QStringLiteral("not known");
const QString kNoneFound = QStringLiteral("none found yet");
const QString kNobody = QStringLiteral("nobody");
const QString kUnknown = QStringLiteral("unknown");

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

// A definition whose text the script replaces, and says in `empty` what an
// empty value reads.
QString definition(const QString &term, const char *id, const QString &value,
                   const QString &empty = {})
{
    const QString emptyAttribute
            = empty.isEmpty() ? QString() : QStringLiteral(" data-empty=\"%1\"").arg(empty);
    return QStringLiteral("<dt>%1</dt><dd id=\"%2\"%3>%4</dd>\n")
            .arg(term, QLatin1String(id), emptyAttribute, escaped(value.isEmpty() ? empty : value));
}

QString linkDefinition(const GeneratorStatus &status)
{
    return QStringLiteral("<dt>Link</dt><dd><span id=\"link\" class=\"%1\">%1</span> "
                          "<span id=\"link-problem\">%2</span></dd>\n")
            .arg(status.linkUp ? QStringLiteral("up") : QStringLiteral("down"),
                 escaped(status.linkProblem));
}

QString resourceList(const QStringList &resources)
{
    QString items;
    for (const QString &resource : resources)
        items += QStringLiteral("<li><code>%1</code></li>").arg(escaped(resource));
    return QStringLiteral("<ul id=\"resources\">%1</ul>\n").arg(items);
}

QString channelRows(const GeneratorStatus &status)
{
    QString rows;
    for (int index = 0; index < kChannelCount; ++index) {
        const std::optional<PulseSteps> &steps = status.channels[index];
        const QString delay = steps ? QString::number(steps->delaySteps * kStepPs) : kUnknown;
        const QString width = steps ? QString::number(steps->widthSteps * kStepPs) : kUnknown;
        rows += QStringLiteral("<tr%1><th>%2</th><td class=\"label\">%3</td><td>%4</td>"
                               "<td>%5</td></tr>\n")
                        .arg(steps ? QString() : QStringLiteral(" class=\"unknown\""))
                        .arg(index + 1)
                        .arg(escaped(status.labels[size_t(index)]), delay, width);
    }
    return rows;
}

QString recordText(const GeneratorStatus &status)
{
    if (!status.recordKept)
        return QStringLiteral("not kept");
    return status.recordProblem.isEmpty() ? QStringLiteral("kept")
                                          : QStringLiteral("not working: ") + status.recordProblem;
}

QString setupList(const QStringList &setups)
{
    QString items;
    for (const QString &name : setups)
        items += QStringLiteral("<li>%1</li>").arg(escaped(name));
    return QStringLiteral("<ul id=\"setups\">%1</ul>\n").arg(items);
}

QString journalRows(const QList<JournalEntry> &journal)
{
    QString rows;
    for (const JournalEntry &entry : journal) {
        const auto ps = [&entry](int PulseSteps::*steps) {
            return entry.steps ? QString::number((*entry.steps).*steps * kStepPs) : QString();
        };
        QString cells;
        for (const QString &cell : {journalTime(entry.timeMs), entry.client,
                                    entry.channel == 0 ? QString() : QString::number(entry.channel),
                                    ps(&PulseSteps::delaySteps), ps(&PulseSteps::widthSteps),
                                    entry.frame, entry.reply, outcomeName(entry.outcome)})
            cells += QStringLiteral("<td>%1</td>").arg(escaped(cell));
        rows += QStringLiteral("<tr>%1</tr>\n").arg(cells);
    }
    return rows;
}

} // namespace

QByteArray statusPage(const GeneratorStatus &status)
{
    const ServedInstrument &instrument = status.instrument;
    QString page
            = QStringLiteral(
                      "<!DOCTYPE html>\n"
                      "<html lang=\"en\">\n"
                      "<head>\n"
                      "<meta charset=\"utf-8\">\n"
                      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                      "<title>%1 pulse generator</title>\n"
                      "<link rel=\"stylesheet\" href=\"/status.css\">\n"
                      "<script src=\"/status.js\" defer></script>\n"
                      "</head>\n"
                      "<body>\n"
                      "<h1>%1 pulse generator</h1>\n"
                      "<p id=\"unreachable\" hidden>No answer from the daemon: what this page "
                      "shows may "
                      "be out of date.</p>\n")
                      .arg(escaped(instrument.manufacturer));
    page += QStringLiteral("<section>\n<h2>Instrument</h2>\n<dl>\n");
    page += definition(QStringLiteral("Manufacturer"), "manufacturer", instrument.manufacturer);
    page += definition(QStringLiteral("Model"), "model", instrument.model);
    page += definition(QStringLiteral("Serial number"), "serial", status.serialNumber, kNotKnown);
    page += definition(QStringLiteral("Software version"), "version", instrument.version);
    page += definition(QStringLiteral("Serial port"), "port", status.port, kNoneFound);
    page += linkDefinition(status);
    page += definition(QStringLiteral("Locked by"), "lock-owner", status.lockOwner, kNobody);
    page += definition(QStringLiteral("Record"), "record", recordText(status));
    page += QStringLiteral("</dl>\n</section>\n");
    page += QStringLiteral("<section>\n<h2>VISA resources</h2>\n") + resourceList(status.resources)
            + QStringLiteral("</section>\n");
    page += QStringLiteral("<section>\n<h2>Channels</h2>\n"
                           "<table id=\"channels\" data-empty=\"%1\">\n"
                           "<thead><tr><th>Channel</th><th>Label</th><th>Delay (ps)</th>"
                           "<th>Width (ps)</th></tr></thead>\n<tbody>\n")
                    .arg(kUnknown)
            + channelRows(status) + QStringLiteral("</tbody>\n</table>\n</section>\n");
    page += QStringLiteral("<section>\n<h2>Timing</h2>\n<div id=\"diagram\">\n")
            + QString::fromUtf8(renderTimingDiagram(status.channels, status.labels))
            + QStringLiteral("</div>\n</section>\n");
    page += QStringLiteral("<section>\n<h2>Setups</h2>\n") + setupList(status.setups)
            + QStringLiteral("</section>\n");
    page += QStringLiteral("<section>\n<h2>Journal</h2>\n<table id=\"journal\">\n"
                           "<thead><tr><th>Time (UTC)</th><th>Client</th><th>Channel</th>"
                           "<th>Delay (ps)</th><th>Width (ps)</th><th>Frame</th><th>Reply</th>"
                           "<th>Outcome</th></tr></thead>\n<tbody>\n")
            + journalRows(status.journal) + QStringLiteral("</tbody>\n</table>\n</section>\n");
    page += QStringLiteral("<footer>%1 %2, read only: <a href=\"/status.json\">status.json</a>, "
                           "<a href=\"/timing.svg\">timing.svg</a>, "
                           "<a href=\"/journal.json\">journal.json</a>, "
                           "<a href=\"/lxi/identification\">identification</a></footer>\n"
                           "</body>\n</html>\n")
                    .arg(escaped(instrument.model), escaped(instrument.version));
    return page.toUtf8();
}
