// The chart's arithmetic, free of widgets: where a sample lands on the screen, how a long
// window of frames shrinks to one span per pixel column, how the mouse changes a vertical
// range, and which colours the traces are drawn in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rv8::kurvo {

// A vertical range the mouse produces spans at least kMinUnits and at most kMaxUnits values.
constexpr int64_t kMinUnits = 16;
constexpr int64_t kMaxUnits = int64_t{1} << 20;

// Pixel row of `value` on a screen `height` rows tall that shows `ymin` on its bottom row
// (height - 1) and `ymax` on its top row (0); values outside the range land on the nearer edge.
// A degenerate range (ymin >= ymax) has no scale: values above the middle of the two go to the
// top row, values below it to the bottom row, the middle itself to the centre row.
int ValueToRow(int32_t value, int32_t ymin, int32_t ymax, int height);

// Frames first..last (inclusive) that pixel column `column` of `columns` shows out of `frames`.
// With at least as many frames as columns the columns split the frames without gap or overlap;
// with fewer, each column shows the one frame under it.
struct FrameRange {
    int first;
    int last;
};
FrameRange ColumnFrames(int column, int frames, int columns);

struct MinMax {
    int16_t min;
    int16_t max;
};

// Smallest and largest of the values each column shows, reading value i at values[i * stride].
// Empty when frames or columns is not positive.
std::vector<MinMax> ReduceMinMax(const int16_t* values, std::ptrdiff_t stride, int frames,
                                 int columns);
// The same into out[0..columns-1], without allocating (the chart's per-plot path). Writes
// nothing when frames or columns is not positive.
void ReduceMinMaxInto(const int16_t* values, std::ptrdiff_t stride, int frames, int columns,
                      MinMax* out);

// Rows top..bottom (top <= bottom) to fill in one column.
struct RowSpan {
    int top;
    int bottom;
};

// Maps each column's min/max to rows and stretches every span to reach the span of the column
// before it, so the trace stays connected from column to column.
std::vector<RowSpan> ColumnSpans(const std::vector<MinMax>& columns, int32_t ymin, int32_t ymax,
                                 int height);
// The same for `count` columns into out[0..count-1], without allocating.
void ColumnSpansInto(const MinMax* columns, int count, int32_t ymin, int32_t ymax, int height,
                     RowSpan* out);

struct Range {
    int32_t min;
    int32_t max;
    friend bool operator==(const Range&, const Range&) = default;
};

// Zooms about the middle of the range: each step > 0 halves the number of values shown, each
// step < 0 doubles it, limited to kMinUnits..kMaxUnits values and to the int32 range. A
// degenerate range (min >= max) first becomes kMinUnits values about its middle.
Range ZoomRange(Range r, int steps);

// Moves the range for a drag of `dyPixels` rows downwards on a screen `height` rows tall: the
// trace follows the mouse, so dragging down shows higher values. A drag over the full height
// moves the range by its span. Stays within the int32 range.
Range PanRange(Range r, int dyPixels, int height);

// 0x00BBGGRR as 0xRRGGBB.
uint32_t BgrToRgb(int32_t bgr);

// The colour a trace is drawn in on the dark screen: the given 0xRRGGBB, mixed with white just
// enough that its luminance reaches a visible level; bright colours stay as they are.
uint32_t VisibleColor(uint32_t rgb);

// The colour a channel's texts are drawn in on the dark screen: the given 0xRRGGBB mixed with
// white until its luminance reaches a level that reads well at small sizes (about 9:1 against
// black for the primaries); brighter colours stay as they are.
uint32_t LegibleColor(uint32_t rgb);

// Luminance 0..255 of 0xRRGGBB (Rec. 601 weights).
double Luminance(uint32_t rgb);

// Multiplier (out of 65536) applied to the earlier traces at each new plot with persistence on:
// depth / (depth + 1), so 0 for depth 0 (gone at once) and 0.97 for depth 32 (an earlier trace
// keeps about a third of its brightness after 33 plots).
int FadeFactor(int depth);

}  // namespace rv8::kurvo
