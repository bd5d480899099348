#include "viewer/RecordMarks.h"

#include <algorithm>
#include <cmath>

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

namespace rv8::viewer {

bool ParseRecordRuns(const QString& text, RecordRuns& out) {
    RecordRuns runs;
    const QString t = text.trimmed();
    if (!t.isEmpty()) {
        for (const QString& part : t.split(QLatin1Char(','))) {
            const QStringList ends = part.trimmed().split(QLatin1Char('-'));
            bool ok1 = false, ok2 = false;
            const uint64_t a = ends.value(0).toULongLong(&ok1);
            const uint64_t b = ends.size() == 2 ? ends[1].toULongLong(&ok2) : a;
            if (!ok1 || (ends.size() == 2 && !ok2) || ends.size() > 2 || b < a) return false;
            if (!runs.empty() && a <= runs.back().second) return false;  // not ascending
            runs.emplace_back(a, b);
        }
    }
    out = std::move(runs);
    return true;
}

RecordMarks::RecordMarks(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    setToolTip(
        QStringLiteral("Records found by Find (Ctrl+F): click to go to one; N and "
                       "Shift+N step through them"));
}

void RecordMarks::setCount(uint64_t count) {
    if (count == count_) return;
    count_ = count;
    update();
}

void RecordMarks::setRuns(RecordRuns runs) {
    runs_ = std::move(runs);
    update();
}

uint64_t RecordMarks::marked() const {
    uint64_t n = 0;
    for (const auto& [a, b] : runs_)
        n += b - a + 1;
    return n;
}

int64_t RecordMarks::nextAfter(int64_t k) const {
    for (const auto& [a, b] : runs_) {
        if (static_cast<int64_t>(b) <= k) continue;
        return std::max<int64_t>(static_cast<int64_t>(a), k + 1);
    }
    return -1;
}

int64_t RecordMarks::previousBefore(int64_t k) const {
    for (auto it = runs_.rbegin(); it != runs_.rend(); ++it) {
        if (static_cast<int64_t>(it->first) >= k) continue;
        return std::min<int64_t>(static_cast<int64_t>(it->second), k - 1);
    }
    return -1;
}

double RecordX(const QWidget& w, double record, uint64_t count) {
    const int margin = w.style()->pixelMetric(QStyle::PM_SliderLength) / 2;
    const double span = std::max(1, w.width() - 2 * margin);
    const double last = count > 1 ? static_cast<double>(count - 1) : 1.0;
    return margin + span * std::clamp(record, 0.0, last) / last;
}

double RecordAtX(const QWidget& w, double x, uint64_t count) {
    const int margin = w.style()->pixelMetric(QStyle::PM_SliderLength) / 2;
    const double span = std::max(1, w.width() - 2 * margin);
    const double last = count > 1 ? static_cast<double>(count - 1) : 0.0;
    return std::clamp((x - margin) / span, 0.0, 1.0) * last;
}

void RecordMarks::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (runs_.empty() || count_ == 0) return;
    const QColor mark(230, 120, 0);
    for (const auto& [a, b] : runs_) {
        // A run is at least one pixel wide, so a single record among 8000 still shows.
        const double x0 = std::floor(xOf(a)), x1 = std::floor(xOf(b));
        p.fillRect(QRectF(x0, 0, std::max(1.0, x1 - x0 + 1), height()), mark);
    }
}

void RecordMarks::mousePressEvent(QMouseEvent* event) {
    if (runs_.empty() || count_ == 0) return;
    // The marked record nearest to the click.
    int64_t best = -1;
    double bestDistance = 0;
    const double x = event->position().x();
    for (const auto& [a, b] : runs_) {
        const double xa = xOf(a), xb = xOf(b);
        int64_t k = static_cast<int64_t>(a);
        if (x > xa && xb > xa) {
            const double f = std::min(1.0, (x - xa) / (xb - xa));
            k = static_cast<int64_t>(a) + std::llround(f * static_cast<double>(b - a));
        }
        const double d = std::fabs(xOf(static_cast<uint64_t>(k)) - x);
        if (best < 0 || d < bestDistance) {
            best = k;
            bestDistance = d;
        }
    }
    if (best >= 0) emit clicked(best);
}

}  // namespace rv8::viewer
