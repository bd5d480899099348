// Kurvo's mouse and keys: the wheel zooms and a drag moves the shown channels' vertical ranges;
// while the mouse is over the chart its position feeds the cursor readout; the S key and a double
// click on the measurement strip show the statistics in its place, or the strip again.
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include "display/Kurvo.h"

namespace rv8 {

bool Kurvo::applyRanges(const std::array<int32_t, 2>& mins, const std::array<int32_t, 2>& maxs) {
    bool changed = false;
    for (int c = 0; c < 2; ++c) {
        if (!channelShown(c)) continue;
        if (ymin_[c] != mins[c] || ymax_[c] != maxs[c]) changed = true;
        ymin_[c] = mins[c];
        ymax_[c] = maxs[c];
    }
    if (changed) drawTraces(false);
    return changed;
}

void Kurvo::wheelEvent(QWheelEvent* event) {
    event->accept();
    wheelRemainder_ += event->angleDelta().y();
    const int steps = wheelRemainder_ / 120;
    wheelRemainder_ -= steps * 120;
    if (steps == 0) return;
    std::array<int32_t, 2> mins = ymin_;
    std::array<int32_t, 2> maxs = ymax_;
    for (int c = 0; c < 2; ++c) {
        if (!channelShown(c)) continue;
        const kurvo::Range r = kurvo::ZoomRange(kurvo::Range{ymin_[c], ymax_[c]}, steps);
        mins[c] = r.min;
        maxs[c] = r.max;
    }
    if (applyRanges(mins, maxs)) emit RangeChanged(0, 0);
}

void Kurvo::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    finishDrag();  // a drag whose release never came ends before the next one starts
    dragging_ = true;
    dragStart_ = event->position().toPoint();
    dragMin_ = ymin_;
    dragMax_ = ymax_;
}

void Kurvo::mouseMoveEvent(QMouseEvent* event) {
    // The cursor readout follows the mouse, also while it drags.
    trackCursor(event->position());
    event->accept();
    if (!dragging_) return;
    if (!(event->buttons() & Qt::LeftButton)) {
        // The release never came (a message box took it): the drag ended where the button was
        // last held, and a move without the button never pans.
        finishDrag();
        return;
    }
    panTo(event->position());
}

void Kurvo::panTo(const QPointF& position) {
    // The range follows the mouse on screen; the window hears of it once, when the drag ends.
    const int dy = position.toPoint().y() - dragStart_.y();
    std::array<int32_t, 2> mins = ymin_;
    std::array<int32_t, 2> maxs = ymax_;
    for (int c = 0; c < 2; ++c) {
        if (!channelShown(c)) continue;
        const kurvo::Range r =
            kurvo::PanRange(kurvo::Range{dragMin_[c], dragMax_[c]}, dy, height());
        mins[c] = r.min;
        maxs[c] = r.max;
    }
    applyRanges(mins, maxs);
}

void Kurvo::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_ || event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    trackCursor(event->position());
    event->accept();
    panTo(event->position());
    finishDrag();
}

void Kurvo::trackCursor(const QPointF& position) {
    cursor_ = position;
    hovering_ = rect().contains(cursor_.toPoint());
    invalidate();
}

void Kurvo::finishDrag() {
    if (!dragging_) return;
    dragging_ = false;
    if (ymin_ != dragMin_ || ymax_ != dragMax_) emit RangeChanged(0, 0);
}

void Kurvo::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_S && event->modifiers() == Qt::NoModifier) {
        StatisticsShown(!statisticsShown_);
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Kurvo::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double click on the measurement strip shows the statistics in its place, or the strip
    // again.
    const double r = pixelRatio();
    const QPointF at = event->position() * r;
    for (const kurvo::KurvoOverlay::Placed& p : overlay_.placed()) {
        if (p.part == kurvo::KurvoOverlay::Part::Strip && at.x() >= p.x && at.x() < p.x + p.w &&
            at.y() >= p.y && at.y() < p.y + p.h) {
            StatisticsShown(!statisticsShown_);
            event->accept();
            return;
        }
    }
    QWidget::mouseDoubleClickEvent(event);
}

void Kurvo::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    if (!hovering_) return;
    hovering_ = false;
    invalidate();
}

}  // namespace rv8
