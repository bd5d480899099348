#include "viewer/TimeAxis.h"

#include <algorithm>
#include <cmath>

#include "display/KurvoMarks.h"

namespace rv8::viewer {

TimeWindow TimeAxis::window(int64_t frames) const {
    if (frames <= 0) return {};
    if (fit_) return {0, frames};
    const int64_t count = std::clamp(count_, std::min(kMinFrames, frames), frames);
    return {std::clamp<int64_t>(start_, 0, frames - count), count};
}

void TimeAxis::show(int64_t start, int64_t count, int64_t frames) {
    if (frames <= 0) return;
    count = std::clamp(count, std::min(kMinFrames, frames), frames);
    if (count >= frames) {
        fit_ = true;
        return;
    }
    fit_ = false;
    count_ = count;
    start_ = std::clamp<int64_t>(start, 0, frames - count);
}

void TimeAxis::zoom(double factor, double anchor, double column, int width, int64_t frames) {
    if (frames <= 0 || !(factor > 0.0) || width < 1) return;
    const TimeWindow now = window(frames);
    const double wanted = std::round(static_cast<double>(now.count) / factor);
    const int64_t count = static_cast<int64_t>(std::clamp(
        wanted, static_cast<double>(std::min(kMinFrames, frames)), static_cast<double>(frames)));
    // The frame under the pointer stays under it.
    const double start =
        anchor -
        kurvo::PointForColumn(column, static_cast<int>(std::min<int64_t>(count, INT32_MAX)), width);
    show(static_cast<int64_t>(std::llround(start)), count, frames);
}

void TimeAxis::pan(int64_t delta, int64_t frames) {
    const TimeWindow now = window(frames);
    if (now.count >= frames) return;
    show(now.start + delta, now.count, frames);
}

}  // namespace rv8::viewer
