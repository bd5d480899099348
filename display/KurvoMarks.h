// The chart's mark layer, drawn over the traces and under the captions: two time (or frequency)
// cursors, two level cursors, a box of cursor readings, and dots on the samples once they lie
// far enough apart to be told apart. What the marks mean is the caller's (the viewer's): the
// chart only places them the way it places its traces.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include <QString>

#include "display/KurvoRaster.h"

namespace rv8::kurvo {

struct MarkLine {
    QString text;
    int channel = -1;  // 0 or 1: in that channel's text colour; otherwise plain
};

struct Marks {
    static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    // Time (or frequency) cursors at points of the last plot (point 0 its first; fractions
    // allowed); NaN: not shown.
    std::array<double, 2> points{kNone, kNone};
    // Level cursors at rows, as a fraction of the picture's height from the top (0 the top row,
    // 1 the bottom row); NaN: not shown.
    std::array<double, 2> levels{kNone, kNone};
    // The cursor being moved, drawn brighter: 0, 1 the time cursors, 2, 3 the level cursors.
    int active = -1;
    // The box of readings at the top right, one text per line; empty: no box.
    std::vector<MarkLine> box;
    // Dots on the samples of the shown channels when neighbouring points lie at least this many
    // logical pixels apart (0: never).
    double sampleDots = 0.0;

    bool empty() const;
};

// The pixel column the chart draws point p (fractional) of a plot of `points` points at, in a
// picture `width` columns wide, and the point at column x: with at least one point per column
// the columns split the points evenly; with fewer, the points run from the first column to the
// last (the traces, the trigger point and the cursor readout use the same rule).
double ColumnForPoint(double p, int points, int width);
double PointForColumn(double x, int points, int width);

// What the layer needs of the chart.
struct MarkInputs {
    int points = 0;                          // of the last plot
    const int16_t* values = nullptr;         // its interleaved values (2 per point)
    std::array<bool, 2> shown{true, false};  // channels whose traces are drawn
    std::array<int32_t, 2> ymin{-32768, -32768};
    std::array<int32_t, 2> ymax{32767, 32767};
    std::array<uint32_t, 2> traceColour{};  // 0xRRGGBB as the traces are drawn
    std::array<uint32_t, 2> textColour{};   // 0xRRGGBB for the channels' texts
    double scale = 1.0;                     // picture pixels per logical pixel
};

// Draws `m` onto `frame`.
void DrawMarks(const Surface& frame, const Marks& m, const MarkInputs& in);

}  // namespace rv8::kurvo
