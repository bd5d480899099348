// The part of a record the time view shows: `count` frames from `start`. From the whole record
// ("fit", which follows each record's length) down to kMinFrames frames, where single samples lie
// far apart; zoomed about a point the pointer is over, moved by a drag or the scroll bar. A
// window the user chose stays while stepping through the records, moved back inside a shorter
// record.
#pragma once

#include <cstdint>

namespace rv8::viewer {

struct TimeWindow {
    int64_t start = 0;
    int64_t count = 0;
    bool operator==(const TimeWindow&) const = default;
};

class TimeAxis {
  public:
    static constexpr int64_t kMinFrames = 8;

    // The window on a record of `frames` frames.
    TimeWindow window(int64_t frames) const;
    bool fitted() const { return fit_; }
    // The whole record, whatever its length.
    void fit() { fit_ = true; }
    // Zooms in (factor > 1) or out (< 1) so that the frame at pixel column `column` of a chart
    // `width` columns wide stays there, the chart placing points as kurvo::ColumnForPoint does.
    // The window's start is kept to a fraction of a frame, so that zooming in and out about one
    // place never drifts from it.
    void zoom(double factor, double column, int width, int64_t frames);
    // Moves the window by `delta` frames (positive: later frames come into view).
    void pan(int64_t delta, int64_t frames);
    // Shows `count` frames from `start`, within the record.
    void show(double start, int64_t count, int64_t frames);

  private:
    bool fit_ = true;
    double start_ = 0;
    int64_t count_ = 0;
};

}  // namespace rv8::viewer
