#include "display/KurvoMath.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace rv8::kurvo {

namespace {

constexpr int64_t kI32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kI32Max = std::numeric_limits<int32_t>::max();

int64_t FloorDiv2(int64_t v) {
    return v >= 0 ? v / 2 : -((-v + 1) / 2);
}

// Places `units` values starting at `lo`, shifted as needed to stay inside the int32 range.
Range Place(int64_t lo, int64_t units) {
    lo = std::clamp(lo, kI32Min, kI32Max - (units - 1));
    return Range{static_cast<int32_t>(lo), static_cast<int32_t>(lo + units - 1)};
}

}  // namespace

int ValueToRow(int32_t value, int32_t ymin, int32_t ymax, int height) {
    if (height <= 1) return 0;
    const int64_t bottom = height - 1;
    const int64_t lo = ymin;
    const int64_t hi = ymax;
    const int64_t v = value;
    if (hi <= lo) {
        const int64_t twiceMid = lo + hi;
        if (2 * v > twiceMid) return 0;
        if (2 * v < twiceMid) return static_cast<int>(bottom);
        return static_cast<int>(bottom / 2);
    }
    if (v >= hi) return 0;
    if (v <= lo) return static_cast<int>(bottom);
    // Rounded to the nearest row; at most 2^33 * 2^31, well within 64 bits.
    const int64_t span = hi - lo;
    return static_cast<int>(((hi - v) * bottom * 2 + span) / (2 * span));
}

FrameRange ColumnFrames(int column, int frames, int columns) {
    const int64_t first = int64_t{column} * frames / columns;
    const int64_t next = int64_t{column + 1} * frames / columns;
    return FrameRange{static_cast<int>(first), static_cast<int>(std::max(first, next - 1))};
}

void ReduceMinMaxInto(const int16_t* values, std::ptrdiff_t stride, int frames, int columns,
                      MinMax* out) {
    if (values == nullptr || frames <= 0 || columns <= 0) return;
    for (int c = 0; c < columns; ++c) {
        const FrameRange fr = ColumnFrames(c, frames, columns);
        const int16_t* v = values + fr.first * stride;
        const int16_t* end = values + fr.last * stride;
        int16_t lo = *v;
        int16_t hi = lo;
        for (v += stride; v <= end; v += stride) {
            lo = std::min(lo, *v);
            hi = std::max(hi, *v);
        }
        out[c] = MinMax{lo, hi};
    }
}

std::vector<MinMax> ReduceMinMax(const int16_t* values, std::ptrdiff_t stride, int frames,
                                 int columns) {
    std::vector<MinMax> out;
    if (values == nullptr || frames <= 0 || columns <= 0) return out;
    out.resize(static_cast<std::size_t>(columns));
    ReduceMinMaxInto(values, stride, frames, columns, out.data());
    return out;
}

void ColumnSpansInto(const MinMax* columns, int count, int32_t ymin, int32_t ymax, int height,
                     RowSpan* out) {
    if (count <= 0) return;
    // The larger value is the higher point on the screen, i.e. the smaller row.
    RowSpan previous{ValueToRow(columns[0].max, ymin, ymax, height),
                     ValueToRow(columns[0].min, ymin, ymax, height)};
    out[0] = previous;
    // Join each column to its left neighbour's own span (not the stretched one).
    for (int c = 1; c < count; ++c) {
        const RowSpan own{ValueToRow(columns[c].max, ymin, ymax, height),
                          ValueToRow(columns[c].min, ymin, ymax, height)};
        RowSpan joined = own;
        if (own.top > previous.bottom) joined.top = previous.bottom;
        if (own.bottom < previous.top) joined.bottom = previous.top;
        out[c] = joined;
        previous = own;
    }
}

std::vector<RowSpan> ColumnSpans(const std::vector<MinMax>& columns, int32_t ymin, int32_t ymax,
                                 int height) {
    std::vector<RowSpan> spans(columns.size());
    ColumnSpansInto(columns.data(), static_cast<int>(columns.size()), ymin, ymax, height,
                    spans.data());
    return spans;
}

Range ZoomRange(Range r, int steps) {
    int64_t lo = r.min;
    int64_t hi = r.max;
    if (hi <= lo) {
        const int64_t mid = FloorDiv2(lo + hi);
        lo = mid - kMinUnits / 2;
        hi = lo + kMinUnits - 1;
    }
    // Twice the middle, which may fall between two values: lo + hi + 1 is 0 for -32768..32767.
    const int64_t twiceMid = lo + hi + 1;
    int64_t units = hi - lo + 1;
    const int clampedSteps = std::clamp(steps, -64, 64);
    // Zooming in never widens a range that is already narrower than kMinUnits, and zooming out
    // never narrows one that is already wider than kMaxUnits.
    for (int i = 0; i < clampedSteps; ++i)
        units = std::max(units / 2, std::min(units, kMinUnits));
    for (int i = 0; i > clampedSteps; --i)
        units = std::min(units * 2, std::max(units, kMaxUnits));
    return Place(FloorDiv2(twiceMid - units), units);
}

Range PanRange(Range r, int dyPixels, int height) {
    const int64_t lo = r.min;
    const int64_t hi = r.max;
    if (hi <= lo || height <= 1) return r;
    const double shift =
        static_cast<double>(dyPixels) * static_cast<double>(hi - lo) / (height - 1);
    const double limited = std::clamp(shift, -static_cast<double>(kI32Max - kI32Min),
                                      static_cast<double>(kI32Max - kI32Min));
    return Place(lo + std::llround(limited), hi - lo + 1);
}

uint32_t BgrToRgb(int32_t bgr) {
    const uint32_t v = static_cast<uint32_t>(bgr);
    const uint32_t r = v & 0xFFu;
    const uint32_t g = (v >> 8) & 0xFFu;
    const uint32_t b = (v >> 16) & 0xFFu;
    return (r << 16) | (g << 8) | b;
}

double Luminance(uint32_t rgb) {
    const double r = (rgb >> 16) & 0xFFu;
    const double g = (rgb >> 8) & 0xFFu;
    const double b = rgb & 0xFFu;
    return 0.299 * r + 0.587 * g + 0.114 * b;
}

namespace {
// rgb mixed with white just enough that its luminance reaches `level`.
uint32_t MixToLuminance(uint32_t rgb, double level) {
    rgb &= 0xFFFFFFu;
    const double y = Luminance(rgb);
    if (y >= level) return rgb;
    // Mixing with white by t raises the luminance linearly: y + t * (255 - y).
    const double t = (level - y) / (255.0 - y);
    auto mix = [t](uint32_t c) { return static_cast<uint32_t>(std::lround(c + t * (255.0 - c))); };
    return (mix((rgb >> 16) & 0xFFu) << 16) | (mix((rgb >> 8) & 0xFFu) << 8) | mix(rgb & 0xFFu);
}
}  // namespace

uint32_t LegibleColor(uint32_t rgb) {
    return MixToLuminance(rgb, 175.0);
}

uint32_t VisibleColor(uint32_t rgb) {
    constexpr double kVisible = 110.0;
    rgb &= 0xFFFFFFu;
    const double y = Luminance(rgb);
    if (y >= kVisible) return rgb;
    // Mixing with white by t raises the luminance linearly: y + t * (255 - y).
    const double t = (kVisible - y) / (255.0 - y);
    auto mix = [t](uint32_t c) { return static_cast<uint32_t>(std::lround(c + t * (255.0 - c))); };
    return (mix((rgb >> 16) & 0xFFu) << 16) | (mix((rgb >> 8) & 0xFFu) << 8) | mix(rgb & 0xFFu);
}

int FadeFactor(int depth) {
    depth = std::clamp(depth, 0, 32);
    return 65536 * depth / (depth + 1);
}

}  // namespace rv8::kurvo
