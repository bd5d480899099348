// Draws a recording with QPainter, the same for a QImage (PNG) and a QSvgGenerator (SVG):
// a title (comment and time), one panel per channel with its volt axis in the channel's
// colour, and a shared time axis in seconds. One record is drawn as its trace (a min/max per
// pixel column when it has more frames than the panel has pixels); several records as one
// min/max bar per record along the recording's time.
#pragma once

#include <QColor>
#include <QPainter>
#include <QSize>

#include "tools/plot/PlotData.h"

namespace rv8plot {

// The scope window's trace colours (channel 1 blue, channel 2 dark red, then more), lightened
// as the window lightens them so that they read on the dark background.
QColor ChannelColor(int channel);
QColor BackgroundColor();

// How many channels a picture of `size` has room for, a panel of at least 10 px each.
int MaxChannels(const QSize& size);

void Paint(QPainter& painter, const QSize& size, const PlotData& data);

}  // namespace rv8plot
