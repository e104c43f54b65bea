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

QString channelRows(const ChannelTimings &channels)
{
    QString rows;
    for (int index = 0; index < kChannelCount; ++index) {
        const std::optional<PulseSteps> &steps = channels[index];
        const QString delay = steps ? QString::number(steps->delaySteps * kStepPs) : kUnknown;
        const QString width = steps ? QString::number(steps->widthSteps * kStepPs) : kUnknown;
        rows += QStringLiteral("<tr%1><th>%2</th><td>%3</td><td>%4</td></tr>\n")
                        .arg(steps ? QString() : QStringLiteral(" class=\"unknown\""))
                        .arg(index + 1)
                        .arg(delay, width);
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
    page += QStringLiteral("</dl>\n</section>\n");
    page += QStringLiteral("<section>\n<h2>VISA resources</h2>\n") + resourceList(status.resources)
            + QStringLiteral("</section>\n");
    page += QStringLiteral("<section>\n<h2>Channels</h2>\n"
                           "<table id=\"channels\" data-empty=\"%1\">\n"
                           "<thead><tr><th>Channel</th><th>Delay (ps)</th><th>Width (ps)</th>"
                           "</tr></thead>\n<tbody>\n")
                    .arg(kUnknown)
            + channelRows(status.channels) + QStringLiteral("</tbody>\n</table>\n</section>\n");
    page += QStringLiteral("<section>\n<h2>Timing</h2>\n<div id=\"diagram\">\n")
            + QString::fromUtf8(renderTimingDiagram(status.channels))
            + QStringLiteral("</div>\n</section>\n");
    page += QStringLiteral("<footer>%1 %2, read only: <a href=\"/status.json\">status.json</a>, "
                           "<a href=\"/timing.svg\">timing.svg</a>, "
                           "<a href=\"/lxi/identification\">identification</a></footer>\n"
                           "</body>\n</html>\n")
                    .arg(escaped(instrument.model), escaped(instrument.version));
    return page.toUtf8();
}
