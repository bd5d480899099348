// The viewer's cursors: two time cursors (frequency cursors in the spectrum view) and two level
// cursors. A time cursor sits on a sample (a bin in the spectrum view), so what it reads is the
// recorded value of that sample, not of a pixel; a level cursor sits at a height of the chart and
// reads each channel's voltage there. Readings: each channel's value at each time cursor, the
// time between them and its inverse, each channel's change between them, and each channel's
// voltage at each level cursor and the difference.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include <QString>

#include "display/KurvoMarks.h"
#include "viewer/RecordView.h"

namespace rv8::viewer {

class Cursors {
  public:
    enum Which { T1 = 0, T2 = 1, V1 = 2, V2 = 3 };
    static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

    bool on() const { return on_; }
    void setOn(bool on) { on_ = on; }
    // Removes all four (the time cursors of both views).
    void clear();

    // Puts time cursor T1 or T2 on sample `frame` (the spectrum view: on bin `frame`).
    void placeTime(int which, int64_t frame, bool spectrum);
    // Puts level cursor V1 or V2 at `fraction` of the chart's height from the top (0..1).
    void placeLevel(int which, double fraction);
    // Where a cursor is: a sample or bin (-1: not placed), or a fraction of the height (NaN).
    int64_t time(int which, bool spectrum) const;
    double level(int which) const { return levels_[which & 1]; }
    bool placed() const;
    // The cursor being moved (drawn brighter), -1 none.
    void setActive(int which) { active_ = which; }

    // What the chart draws for them over a view of `facts`, with the chart's vertical ranges.
    kurvo::Marks marks(const RecordView::Facts& facts, const std::array<int32_t, 2>& ymin,
                       const std::array<int32_t, 2>& ymax) const;
    // Their readings, one line each, for the chart's box (the channel a line is about colours
    // it) and, joined, for the status line.
    std::vector<kurvo::MarkLine> readings(const RecordView::Facts& facts,
                                          const std::array<int32_t, 2>& ymin,
                                          const std::array<int32_t, 2>& ymax) const;

  private:
    bool on_ = false;
    std::array<int64_t, 2> frames_{-1, -1};  // time view: record frames
    std::array<int64_t, 2> bins_{-1, -1};    // spectrum view: bins
    std::array<double, 2> levels_{kNone, kNone};
    int active_ = -1;
};

// A voltage as the cursors write it: "0.7071 V", "-12.21 mV" (four significant digits).
QString CursorVolts(double volts);

}  // namespace rv8::viewer
