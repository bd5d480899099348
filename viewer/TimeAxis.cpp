#include "viewer/TimeAxis.h"

#include <algorithm>
#include <cmath>

#include "display/KurvoMarks.h"

namespace rv8::viewer {

TimeWindow TimeAxis::window(int64_t frames) const {
    if (frames <= 0) return {};
    if (fit_) return {0, frames};
    const int64_t count = std::clamp(count_, std::min(kMinFrames, frames), frames);
    return {std::clamp<int64_t>(std::llround(start_), 0, frames - count), count};
}

void TimeAxis::show(double start, int64_t count, int64_t frames) {
    if (frames <= 0) return;
    count = std::clamp(count, std::min(kMinFrames, frames), frames);
    if (count >= frames) {
        fit_ = true;
        return;
    }
    fit_ = false;
    count_ = count;
    start_ = std::clamp(start, 0.0, static_cast<double>(frames - count));
}

void TimeAxis::zoom(double factor, double column, int width, int64_t frames) {
    if (frames <= 0 || !(factor > 0.0) || width < 1) return;
    const TimeWindow now = window(frames);
    // Where the window starts, to a fraction of a frame (whole frames once fitted).
    const double start =
        fit_ ? 0.0 : std::clamp(start_, 0.0, static_cast<double>(frames - now.count));
    const auto points = [](int64_t n) { return static_cast<int>(std::min<int64_t>(n, INT32_MAX)); };
    const double anchor = start + kurvo::PointForColumn(column, points(now.count), width);
    const double wanted = std::round(static_cast<double>(now.count) / factor);
    const int64_t count = static_cast<int64_t>(std::clamp(
        wanted, static_cast<double>(std::min(kMinFrames, frames)), static_cast<double>(frames)));
    // The frame under the pointer stays under it.
    show(anchor - kurvo::PointForColumn(column, points(count), width), count, frames);
}

void TimeAxis::pan(int64_t delta, int64_t frames) {
    const TimeWindow now = window(frames);
    if (now.count >= frames) return;
    show(static_cast<double>(now.start + delta), now.count, frames);
}

}  // namespace rv8::viewer
