// The chart's geometry that the window's controls share with it: the graticule's divisions and
// how many frames one step of the time view's "Scale" bar shows. Plain constants, no Qt: the
// chart (display/), the display pass and the record-length setting (settings/) all read them.
#pragma once

namespace rv8::chart {

// Divisions of the graticule, across and up.
constexpr int kDivisionsX = 10;
constexpr int kDivisionsY = 8;

// One step of "Scale" (the chart's HorizontalScale) is this many frames across the time view.
constexpr int kFramesPerScaleStep = 512;
// The widest time view, in Scale steps.
constexpr int kMaxScaleSteps = 32;

}  // namespace rv8::chart
