// The viewer's mouse on the chart (an event filter on it, so the chart itself stays as the scope
// has it):
//   wheel                 zooms the time axis about the pointer (the spectrum view: vertically)
//   drag                  moves along the time axis (the spectrum view: vertically)
//   Ctrl + wheel / drag   zooms / moves vertically, the channels chosen for it (as the scope's
//                         wheel and drag do)
//   Shift + drag          time cursors: T1 where the button went down, T2 where it is let go;
//                         starting on a cursor moves that one
//   Shift + right drag    level cursors V1 and V2 the same way
// A move without a button goes on to the chart, whose cursor readout follows it.
#pragma once

#include <array>
#include <cstdint>

#include <QObject>
#include <QPointF>

#include "display/Kurvo.h"
#include "viewer/Cursors.h"
#include "viewer/RecordView.h"
#include "viewer/TimeAxis.h"

namespace rv8::viewer {

class ChartInput : public QObject {
    Q_OBJECT
  public:
    ChartInput(RecordView& view, Cursors& cursors, QObject* parent = nullptr);

    // Which channels the vertical wheel and drag act on: 0 channel 1, 1 channel 2, 2 both (of
    // those shown).
    void setVerticalChannels(int which) { vertical_ = which; }
    int verticalChannels() const { return vertical_; }

  signals:
    void timeChanged();    // the time window moved or zoomed
    void rangesChanged();  // a vertical range changed
    void cursorsChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    enum class Drag { None, Time, Vertical, TimeCursor, LevelCursor };
    bool wheel(class QWheelEvent* e);
    bool press(class QMouseEvent* e);
    void move(const QPointF& at);
    bool acts(int channel) const;
    // The chart's size in picture pixels and their number per logical pixel.
    double ratio() const;
    int widthPx() const;
    int heightPx() const;
    // The sample (or bin) under logical column x, and the column of sample `at`.
    int64_t pointAt(double x) const;
    double columnOf(int64_t at) const;

    RecordView& view_;
    Kurvo& chart_;
    Cursors& cursors_;
    int vertical_ = 2;
    int wheelRemainder_ = 0;
    Drag drag_ = Drag::None;
    QPointF pressAt_;
    TimeWindow pressWindow_;
    std::array<int32_t, 2> pressMin_{}, pressMax_{};
    int moving_ = -1;       // the cursor a cursor drag moves
    bool placing_ = false;  // a drag that put T1 (V1) down and places T2 (V2)
};

}  // namespace rv8::viewer
