#include "viewer/TrendStrip.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>

#include "viewer/RecordMarks.h"

namespace rv8::viewer {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Splits one CSV line at commas outside quotes.
QStringList CsvFields(const QString& line) {
    QStringList out;
    QString field;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            out << field;
            field.clear();
        } else {
            field += c;
        }
    }
    out << field;
    return out;
}

}  // namespace

bool TrendTable::addCsv(const QString& csv) {
    const QStringList lines = csv.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.isEmpty()) return false;
    const QStringList head = CsvFields(lines[0]);
    if (head.value(0) != QLatin1String("record")) return false;
    // The numeric per-channel columns (not "measured" and "mean_over").
    std::vector<int> at;
    QStringList names;
    for (int i = 0; i < head.size(); ++i) {
        const QString& h = head[i];
        if (h.startsWith(QLatin1String("ch")) && !h.endsWith(QLatin1String("_measured")) &&
            !h.endsWith(QLatin1String("_mean_over"))) {
            at.push_back(i);
            names << h;
        }
    }
    if (!columns.isEmpty() && columns != names) return false;
    columns = names;
    // A comment may hold a line end inside quotes: such a line is joined to the next.
    QString pending;
    for (int k = 1; k < lines.size(); ++k) {
        const QString line = pending.isEmpty() ? lines[k] : pending + QLatin1Char('\n') + lines[k];
        if (line.count(QLatin1Char('"')) % 2 != 0) {
            pending = line;
            continue;
        }
        pending.clear();
        const QStringList f = CsvFields(line);
        bool ok = false;
        const qulonglong record = f.value(0).toULongLong(&ok);
        if (!ok || f.size() != head.size() || record > 100'000'000) return false;
        if (rows.size() <= record) rows.resize(record + 1, std::vector<double>(at.size(), kNaN));
        for (std::size_t c = 0; c < at.size(); ++c) {
            bool number = false;
            const double v = f[at[c]].toDouble(&number);
            rows[record][c] = number ? v : kNaN;
        }
    }
    return true;
}

TrendStrip::TrendStrip(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setMinimumHeight(48);
    setCursor(Qt::PointingHandCursor);
}

void TrendStrip::setValues(std::vector<double> values, const QString& what) {
    values_ = std::move(values);
    what_ = what;
    update();
}

void TrendStrip::setCount(uint64_t count) {
    if (count == count_) return;
    count_ = count;
    update();
}

void TrendStrip::setCurrent(int64_t record) {
    if (record == current_) return;
    current_ = record;
    update();
}

double TrendStrip::xOf(double record) const {
    return RecordX(*this, record, count_);
}

double TrendStrip::recordAt(double x) const {
    return RecordAtX(*this, x, count_);
}

std::pair<double, double> TrendStrip::columnRange(int column) const {
    // The records whose place rounds into this column.
    const double first = std::ceil(recordAt(column - 0.5));
    const double last = std::floor(recordAt(column + 0.5));
    double lo = kNaN, hi = kNaN;
    const auto n = static_cast<double>(std::min<uint64_t>(values_.size(), count_));
    for (double r = std::max(0.0, first); r <= last && r < n; ++r) {
        const double v = values_[static_cast<std::size_t>(r)];
        if (!std::isfinite(v)) continue;
        lo = lo == lo ? std::min(lo, v) : v;
        hi = hi == hi ? std::max(hi, v) : v;
    }
    return {lo, hi};
}

void TrendStrip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(20, 20, 20));
    const int h = height();
    double lo = kNaN, hi = kNaN;
    const std::size_t n = std::min<std::size_t>(values_.size(), count_);
    for (std::size_t r = 0; r < n; ++r) {
        const double v = values_[r];
        if (!std::isfinite(v)) continue;
        lo = lo == lo ? std::min(lo, v) : v;
        hi = hi == hi ? std::max(hi, v) : v;
    }
    p.setPen(QColor(170, 170, 170));
    QFont f = font();
    f.setPointSizeF(f.pointSizeF() * 0.85);
    p.setFont(f);
    if (lo == lo) {
        const double pad = hi > lo ? (hi - lo) * 0.08 : std::max(std::fabs(lo) * 0.05, 1e-12);
        const double top = hi + pad, bottom = lo - pad;
        const auto yOf = [&](double v) { return (top - v) / (top - bottom) * (h - 1); };
        const QColor line(120, 170, 255);
        p.setPen(line);
        if (n > static_cast<std::size_t>(width())) {
            // More records than columns: each column from its smallest to its largest value.
            for (int x = 0; x < width(); ++x) {
                const auto [a, b] = columnRange(x);
                if (a == a) p.drawLine(QPointF(x + 0.5, yOf(b)), QPointF(x + 0.5, yOf(a) + 0.01));
            }
        } else {
            QPainterPath path;
            bool open = false;
            for (std::size_t r = 0; r < n; ++r) {
                const double v = values_[r];
                if (!std::isfinite(v)) {
                    open = false;
                    continue;
                }
                const QPointF pt(xOf(static_cast<double>(r)), yOf(v));
                if (open) {
                    path.lineTo(pt);
                } else {
                    path.moveTo(pt);
                    p.drawPoint(pt);
                }
                open = true;
            }
            p.setRenderHint(QPainter::Antialiasing);
            p.drawPath(path);
            p.setRenderHint(QPainter::Antialiasing, false);
        }
        p.setPen(QColor(200, 200, 200));
        p.drawText(QRectF(4, 1, width() - 8, h - 2), Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("%1  max %2").arg(what_, QString::number(hi, 'g', 5)));
        p.drawText(QRectF(4, 1, width() - 8, h - 2), Qt::AlignLeft | Qt::AlignBottom,
                   QStringLiteral("min %1").arg(QString::number(lo, 'g', 5)));
    } else {
        p.drawText(rect(), Qt::AlignCenter,
                   what_.isEmpty() ? QStringLiteral("no measurement")
                                   : what_ + QStringLiteral(": no values"));
    }
    if (current_ >= 0 && count_ > 0) {
        p.setPen(QColor(255, 200, 0));
        const double x = std::floor(xOf(static_cast<double>(current_))) + 0.5;
        p.drawLine(QPointF(x, 0), QPointF(x, h));
    }
}

void TrendStrip::mousePressEvent(QMouseEvent* event) {
    if (count_ == 0) return;
    emit clicked(std::llround(recordAt(event->position().x())));
}

}  // namespace rv8::viewer
