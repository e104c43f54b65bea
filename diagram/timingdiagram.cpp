#include "diagram/timingdiagram.h"

#include <QXmlStreamWriter>

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace {

// Whole nanoseconds fall on whole pixels.
constexpr double kPxPerPs = 0.12;
constexpr double kPlotLeft = 64;
constexpr double kPlotWidth = kMaxTimePs * kPxPerPs;
constexpr double kPlotRight = kPlotLeft + kPlotWidth;
constexpr double kDelayColumnRight = kPlotRight + 78;
constexpr double kWidthColumnRight = kDelayColumnRight + 68;
constexpr double kTop = 30;
constexpr double kRowHeight = 24;
constexpr double kBarInset = 5;
constexpr double kPlotBottom = kTop + kChannelCount * kRowHeight;
constexpr double kWidth = kWidthColumnRight + 14;
// Room for a label of 32 characters.
constexpr double kLabelColumn = 230;
constexpr double kHeight = kPlotBottom + 48;

const char kPulseColour[] = "#1d5fa8";
const char kMutedColour[] = "#66707c";
const char kHatchId[] = "kestrane-unknown";

// Locale-independent and short: "64", "674.52".
QString number(double value)
{
    return QString::number(value, 'g', 8);
}

double xOf(double ps)
{
    return kPlotLeft + ps * kPxPerPs;
}

// Path data for a vertical line.
QString vertical(double x, double top, double bottom)
{
    return QStringLiteral("M%1 %2V%3").arg(number(x), number(top), number(bottom));
}

using Attributes = std::initializer_list<std::pair<const char *, QString>>;

void startElement(QXmlStreamWriter &xml, const char *name, Attributes attributes,
                  Attributes more = {})
{
    xml.writeStartElement(QString::fromLatin1(name));
    for (const Attributes list : {attributes, more}) {
        for (const auto &[attribute, value] : list)
            xml.writeAttribute(QString::fromLatin1(attribute), value);
    }
}

// A path with its paint, and its tooltip if it has one.
void path(QXmlStreamWriter &xml, const QString &data, Attributes paint, const QString &title = {})
{
    startElement(xml, "path", {{"d", data}}, paint);
    if (!title.isEmpty())
        xml.writeTextElement(QStringLiteral("title"), title);
    xml.writeEndElement();
}

void rect(QXmlStreamWriter &xml, double x, double y, double width, double height,
          const QString &fill, const QString &title = {})
{
    const QString data = QStringLiteral("M%1 %2h%3v%4H%1z")
                                 .arg(number(x), number(y), number(width), number(height));
    path(xml, data, {{"fill", fill}}, title);
}

void text(QXmlStreamWriter &xml, double x, double y, const char *anchor, const QString &content,
          Attributes style = {})
{
    startElement(xml, "text", {{"x", number(x)}, {"y", number(y)}, {"text-anchor", anchor}}, style);
    xml.writeCharacters(content);
    xml.writeEndElement();
}

// Diagonal grey stripes: an unknown channel is never mistaken for an empty one.
void writeHatch(QXmlStreamWriter &xml)
{
    xml.writeStartElement(QStringLiteral("defs"));
    startElement(xml, "pattern",
                 {{"id", kHatchId},
                  {"width", "6"},
                  {"height", "6"},
                  {"patternUnits", "userSpaceOnUse"},
                  {"patternTransform", "rotate(45)"}});
    rect(xml, 0, 0, 6, 6, "#eef0f3");
    rect(xml, 0, 0, 2, 6, "#c4cad1");
    xml.writeEndElement();
    xml.writeEndElement();
}

// Every other row shaded, a line at every nanosecond: under the pulses.
void writeGrid(QXmlStreamWriter &xml)
{
    for (int row = 1; row < kChannelCount; row += 2)
        rect(xml, kPlotLeft, kTop + row * kRowHeight, kPlotWidth, kRowHeight, "#f4f6f8");
    QString lines;
    for (int ps = 1000; ps < kMaxTimePs; ps += 1000)
        lines += vertical(xOf(ps), kTop, kPlotBottom);
    lines += vertical(kPlotLeft, kTop, kPlotBottom) + vertical(kPlotRight, kTop, kPlotBottom);
    path(xml, lines, {{"stroke", "#cfd5dc"}, {"fill", "none"}});
}

void writeAxis(QXmlStreamWriter &xml)
{
    QString ticks = QStringLiteral("M%1 %2H%3")
                            .arg(number(kPlotLeft), number(kPlotBottom), number(kPlotRight));
    for (int ps = 0; ps <= kMaxTimePs; ps += 100) {
        const bool wholeNs = ps % 1000 == 0;
        ticks += vertical(xOf(ps), kPlotBottom, kPlotBottom + (wholeNs ? 6 : 3));
        if (wholeNs)
            text(xml, xOf(ps), kPlotBottom + 19, "middle", QString::number(ps / 1000));
    }
    ticks += vertical(kPlotRight, kPlotBottom, kPlotBottom + 6);
    path(xml, ticks, {{"stroke", kMutedColour}, {"fill", "none"}});
    text(xml, kPlotRight, kPlotBottom + 19, "middle", QStringLiteral("5.621"));
    text(xml, xOf(kMaxTimePs / 2.0), kPlotBottom + 38, "middle", QStringLiteral("time (ns)"),
         {{"fill", kMutedColour}});
}

void writeChannel(QXmlStreamWriter &xml, int channel, const std::optional<PulseSteps> &pulse,
                  const QString &label)
{
    const double top = kTop + (channel - 1) * kRowHeight;
    const double middle = top + kRowHeight / 2;
    QString name = QStringLiteral("Channel %1").arg(channel);
    if (!label.isEmpty()) {
        name += QStringLiteral(" (%1)").arg(label);
        text(xml, -8, middle + 4, "end", label);
    }
    text(xml, kPlotLeft - 10, middle + 4, "end", QStringLiteral("CH %1").arg(channel),
         {{"font-weight", "bold"}});
    if (!pulse) {
        rect(xml, kPlotLeft + 1, top + 2, kPlotWidth - 2, kRowHeight - 4,
             QStringLiteral("url(#%1)").arg(QLatin1String(kHatchId)), name + ": unknown");
        text(xml, xOf(kMaxTimePs / 2.0), middle + 4, "middle", QStringLiteral("unknown"),
             {{"font-style", "italic"}, {"fill", kMutedColour}});
        return;
    }
    const int delayPs = pulse->delaySteps * kStepPs;
    const int widthPs = pulse->widthSteps * kStepPs;
    const QString title
            = QStringLiteral("%1: delay %2 ps, width %3 ps").arg(name).arg(delayPs).arg(widthPs);
    const double start = xOf(delayPs);
    if (widthPs > 0) {
        rect(xml, start, top + kBarInset, widthPs * kPxPerPs, kRowHeight - 2 * kBarInset,
             kPulseColour, title);
    } else {
        // A width of 0 is still a setting: a diamond on a thin mark.
        const QString mark
                = QStringLiteral("M%1 %2h2V%3h-2zM%4 %5l6 6-6 6-6-6z")
                          .arg(number(start - 1), number(top + 2), number(top + kRowHeight - 2),
                               number(start), number(middle - 6));
        path(xml, mark, {{"fill", kPulseColour}}, title);
    }
    text(xml, kDelayColumnRight, middle + 4, "end", QString::number(delayPs));
    text(xml, kWidthColumnRight, middle + 4, "end", QString::number(widthPs));
}

} // namespace

QByteArray renderTimingDiagram(const ChannelTimings &channels, const ChannelLabels &labels)
{
    const bool labelled = std::any_of(labels.begin(), labels.end(),
                                      [](const QString &l) { return !l.isEmpty(); });
    const double width = kWidth + (labelled ? kLabelColumn : 0);
    QByteArray svg;
    QXmlStreamWriter xml(&svg);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(1);
    xml.writeStartDocument();
    startElement(xml, "svg",
                 {{"xmlns", "http://www.w3.org/2000/svg"},
                  {"version", "1.1"},
                  {"width", number(width)},
                  {"height", number(kHeight)},
                  {"viewBox", QStringLiteral("0 0 %1 %2").arg(number(width), number(kHeight))},
                  {"font-family", "sans-serif"},
                  {"font-size", "12"},
                  {"fill", "#1f2933"}});
    xml.writeTextElement(QStringLiteral("title"), QStringLiteral("Timing of the channels"));
    writeHatch(xml);
    rect(xml, 0, 0, width, kHeight, "#ffffff");
    // The drawing moves right of the labels' column.
    if (labelled)
        startElement(xml, "g", {{"transform", QStringLiteral("translate(%1)").arg(kLabelColumn)}});
    text(xml, kDelayColumnRight, kTop - 10, "end", QStringLiteral("delay ps"),
         {{"fill", kMutedColour}});
    text(xml, kWidthColumnRight, kTop - 10, "end", QStringLiteral("width ps"),
         {{"fill", kMutedColour}});
    writeGrid(xml);
    for (int channel = 1; channel <= kChannelCount; ++channel)
        writeChannel(xml, channel, channels[std::size_t(channel - 1)],
                     labels[std::size_t(channel - 1)]);
    writeAxis(xml);
    if (labelled)
        xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return svg;
}
