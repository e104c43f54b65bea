#ifndef TIMINGDIAGRAM_H
#define TIMINGDIAGRAM_H

#include "pulse/channelrecords.h"
#include "pulse/pulsesteps.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

// What is known of each channel, channel 1 first: the steps it is set to,
// or nothing where the setting is not known.
using ChannelTimings = std::array<std::optional<PulseSteps>, kChannelCount>;
// Each channel's label, channel 1 first; empty where it has none.
using ChannelLabels = std::array<QString, kChannelCount>;

// The channels as a standalone SVG 1.1 document: one row a channel on a time
// axis from 0 to the 511-step budget, each known pulse a bar from its delay
// to delay plus width with both times in ps as its tooltip, unknown channels
// hatched and marked "unknown". The same channels give the same bytes. It
// holds no script, no style sheet and no reference outside itself, so a page
// with a strict Content-Security-Policy may serve it or put it inline (where
// the XML declaration reads as a comment). Steps are taken to be within the
// budget, as pulseStepsFor() gives them. Labels stand left of the channels'
// names, in a column of their own that is there only when a channel has one.
QByteArray renderTimingDiagram(const ChannelTimings &channels, const ChannelLabels &labels = {});

#endif // TIMINGDIAGRAM_H
