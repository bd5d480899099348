#include "viewer/ChartInput.h"

#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "display/KurvoMarks.h"
#include "display/KurvoMath.h"
#include "display/Spektra.h"

namespace rv8::viewer {

namespace {

constexpr double kZoomStep = 1.25;  // per wheel notch
constexpr double kGrab = 6.0;       // logical pixels from a cursor that take hold of it
constexpr double kDragStart = 3.0;  // logical pixels a drag moves before it places T2 (V2)

}  // namespace

ChartInput::ChartInput(RecordView& view, Cursors& cursors, QObject* parent)
    : QObject(parent), view_(view), chart_(view.chart()), cursors_(cursors) {
    chart_.installEventFilter(this);
}

double ChartInput::ratio() const {
    const double r = chart_.devicePixelRatioF();
    return r > 0 ? r : 1.0;
}

int ChartInput::widthPx() const {
    return std::max(1, static_cast<int>(std::lround(chart_.width() * ratio())));
}

int ChartInput::heightPx() const {
    return std::max(1, static_cast<int>(std::lround(chart_.height() * ratio())));
}

int64_t ChartInput::pointAt(double x) const {
    const RecordView::Facts& f = view_.facts();
    if (f.spectrum) {
        const double bin = kurvo::PointForColumn(x * ratio(), Spektra::kBins, widthPx());
        return std::clamp<int64_t>(std::llround(bin), 0, Spektra::kBins - 1);
    }
    const double point =
        kurvo::PointForColumn(x * ratio(), static_cast<int>(f.window.count), widthPx());
    return std::clamp<int64_t>(f.window.start + std::llround(point), 0,
                               std::max<int64_t>(f.frames - 1, 0));
}

double ChartInput::columnOf(int64_t at) const {
    const RecordView::Facts& f = view_.facts();
    const double column =
        f.spectrum ? kurvo::ColumnForPoint(static_cast<double>(at), Spektra::kBins, widthPx())
                   : kurvo::ColumnForPoint(static_cast<double>(at - f.window.start),
                                           static_cast<int>(f.window.count), widthPx());
    return column / ratio();
}

bool ChartInput::acts(int channel) const {
    return view_.shown()[channel] && (vertical_ == 2 || vertical_ == channel);
}

bool ChartInput::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &chart_ || !view_.hasRecord()) return false;
    switch (event->type()) {
        case QEvent::Wheel:
            return wheel(static_cast<QWheelEvent*>(event));
        case QEvent::MouseButtonPress:
            return press(static_cast<QMouseEvent*>(event));
        case QEvent::MouseMove: {
            auto* e = static_cast<QMouseEvent*>(event);
            if (drag_ != Drag::None && e->buttons() == Qt::NoButton) drag_ = Drag::None;
            if (drag_ != Drag::None) move(e->position());
            return false;  // the chart's cursor readout follows it as well
        }
        case QEvent::MouseButtonRelease:
            if (drag_ == Drag::None) return false;
            move(static_cast<QMouseEvent*>(event)->position());
            drag_ = Drag::None;
            cursors_.setActive(-1);
            emit cursorsChanged();
            return true;
        default:
            return false;
    }
}

bool ChartInput::wheel(QWheelEvent* e) {
    wheelRemainder_ += e->angleDelta().y();
    const int steps = wheelRemainder_ / 120;
    wheelRemainder_ -= steps * 120;
    if (steps == 0) return true;
    const RecordView::Facts& f = view_.facts();
    if ((e->modifiers() & Qt::ControlModifier) || f.spectrum) {
        bool changed = false;
        for (int16_t c = 0; c < 2; ++c) {
            if (!acts(c)) continue;
            const kurvo::Range r =
                kurvo::ZoomRange(kurvo::Range{chart_.YMin(c), chart_.YMax(c)}, steps);
            chart_.YMin(c, r.min);
            chart_.YMax(c, r.max);
            changed = true;
        }
        if (changed) emit rangesChanged();
        return true;
    }
    view_.axis().zoom(std::pow(kZoomStep, steps), e->position().x() * ratio(), widthPx(), f.frames);
    emit timeChanged();
    return true;
}

bool ChartInput::press(QMouseEvent* e) {
    const Qt::KeyboardModifiers mods = e->modifiers();
    const bool left = e->button() == Qt::LeftButton;
    const bool right = e->button() == Qt::RightButton;
    pressAt_ = e->position();
    pressWindow_ = view_.facts().window;
    for (int c = 0; c < 2; ++c) {
        pressMin_[c] = chart_.YMin(static_cast<int16_t>(c));
        pressMax_[c] = chart_.YMax(static_cast<int16_t>(c));
    }
    if ((mods & Qt::ShiftModifier) && (left || right)) {
        cursors_.setOn(true);
        const bool time = left;
        drag_ = time ? Drag::TimeCursor : Drag::LevelCursor;
        const bool spectrum = view_.facts().spectrum;
        // Starting on a cursor moves it; elsewhere the first cursor goes there and the second
        // follows the drag.
        moving_ = -1;
        double nearest = kGrab;
        for (int i = 0; i < 2; ++i) {
            double d = 1e9;
            if (time && cursors_.time(i, spectrum) >= 0)
                d = std::fabs(columnOf(cursors_.time(i, spectrum)) - pressAt_.x());
            if (!time && std::isfinite(cursors_.level(i)))
                d = std::fabs(cursors_.level(i) * (chart_.height() - 1) - pressAt_.y());
            if (d <= nearest) {
                nearest = d;
                moving_ = i;
            }
        }
        placing_ = moving_ < 0;
        if (placing_) moving_ = 0;
        cursors_.setActive(time ? moving_ : 2 + moving_);
        if (time) {
            cursors_.placeTime(moving_, pointAt(pressAt_.x()), spectrum);
        } else {
            cursors_.placeLevel(moving_, pressAt_.y() / std::max(1, chart_.height() - 1));
        }
        emit cursorsChanged();
        return true;
    }
    if (!left) return false;
    drag_ = (mods & Qt::ControlModifier) || view_.facts().spectrum ? Drag::Vertical : Drag::Time;
    return true;
}

void ChartInput::move(const QPointF& at) {
    const RecordView::Facts& f = view_.facts();
    switch (drag_) {
        case Drag::Time: {
            // The frames under the mouse follow it.
            const double dx = (at.x() - pressAt_.x()) * ratio();
            const double frames = kurvo::PointForColumn(
                std::fabs(dx), static_cast<int>(pressWindow_.count), widthPx());
            const int64_t delta = std::llround(dx < 0 ? frames : -frames);
            view_.axis().show(static_cast<double>(pressWindow_.start + delta), pressWindow_.count,
                              f.frames);
            emit timeChanged();
            return;
        }
        case Drag::Vertical: {
            const int dy = static_cast<int>(std::lround(at.y() - pressAt_.y()));
            bool changed = false;
            for (int16_t c = 0; c < 2; ++c) {
                if (!acts(c)) continue;
                const kurvo::Range r =
                    kurvo::PanRange(kurvo::Range{pressMin_[c], pressMax_[c]}, dy, chart_.height());
                chart_.YMin(c, r.min);
                chart_.YMax(c, r.max);
                changed = true;
            }
            if (changed) emit rangesChanged();
            return;
        }
        case Drag::TimeCursor:
        case Drag::LevelCursor: {
            const bool time = drag_ == Drag::TimeCursor;
            const double moved =
                time ? std::fabs(at.x() - pressAt_.x()) : std::fabs(at.y() - pressAt_.y());
            // A drag from a free place: the first cursor stays, the second follows.
            const int which = placing_ ? (moved >= kDragStart ? 1 : 0) : moving_;
            if (placing_ && which == 0) return;
            cursors_.setActive(time ? which : 2 + which);
            if (time) {
                cursors_.placeTime(which, pointAt(at.x()), f.spectrum);
            } else {
                cursors_.placeLevel(which, at.y() / std::max(1, chart_.height() - 1));
            }
            emit cursorsChanged();
            return;
        }
        case Drag::None:
            return;
    }
}

}  // namespace rv8::viewer
