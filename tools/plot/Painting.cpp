#include "tools/plot/Painting.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QLineF>
#include <QPolygonF>
#include <QVector>

#include "display/KurvoMath.h"

namespace rv8plot {

namespace {

const QColor kPanel(24, 30, 38);
const QColor kGrid(58, 68, 80);
const QColor kText(205, 210, 216);
const QColor kTitle(240, 242, 245);

// The picture's layout in pixels: the title above the panels, the time axis below them, the gap
// between panels and the least height of a panel.
constexpr int kTop = 64, kBelow = 58, kGap = 16, kMinPanel = 10;

struct Range {
    double lo = 0, hi = 1;
    double span() const { return hi - lo; }
};

// Pads a data range by 5 % and keeps it from collapsing to a point.
Range Padded(double lo, double hi) {
    if (!std::isfinite(lo) || !std::isfinite(hi) || lo > hi) return {-1, 1};
    if (hi - lo <= std::max(std::fabs(lo), std::fabs(hi)) * 1e-12) {
        const double d = lo == 0 ? 1.0 : std::fabs(lo) * 0.1;
        return {lo - d, hi + d};
    }
    const double pad = (hi - lo) * 0.05;
    return {lo - pad, hi + pad};
}

// 1, 2 or 5 times a power of ten, giving at most about `ticks` steps over `span`.
double NiceStep(double span, int ticks) {
    const double raw = span / std::max(1, ticks);
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / mag;
    return (f <= 1 ? 1 : f <= 2 ? 2 : f <= 5 ? 5 : 10) * mag;
}

std::vector<double> Ticks(const Range& r, int ticks) {
    std::vector<double> out;
    if (!(r.span() > 0) || !std::isfinite(r.span())) return out;
    const double step = NiceStep(r.span(), ticks);
    for (double k = std::ceil(r.lo / step); k * step <= r.hi + step * 1e-9 && out.size() < 100;
         ++k) {
        out.push_back(std::fabs(k) < 1e-9 ? 0.0 : k * step);
    }
    return out;
}

QString TickLabel(double v) {
    return QString::number(v, 'g', 6);
}

// Seconds from one record time to another; record times may lie anywhere in the 64-bit range,
// so their difference is taken in double, never in int64_t (which would overflow).
double SecondsBetween(int64_t fromUs, int64_t toUs) {
    return (static_cast<double>(toUs) - static_cast<double>(fromUs)) / 1e6;
}

QString RecordTime(int64_t us) {
    return QString::fromStdString(rv8rec::FormatTime(us));
}

}  // namespace

QColor ChannelColor(int channel) {
    static const uint32_t kBase[] = {0x0000FF, 0xC00000, 0x00A000, 0xC0A000,
                                     0xA000C0, 0x00A0C0, 0xC06000, 0x808080};
    const uint32_t rgb = rv8::kurvo::VisibleColor(kBase[channel % 8]);
    return QColor::fromRgb(0xFF000000u | rgb);
}

QColor BackgroundColor() {
    return QColor(16, 20, 26);
}

int MaxChannels(const QSize& size) {
    return std::max(0, (size.height() - kTop - kBelow + kGap) / (kMinPanel + kGap));
}

void Paint(QPainter& p, const QSize& size, const PlotData& d) {
    const double w = size.width(), h = size.height();
    p.fillRect(QRectF(0, 0, w, h), BackgroundColor());
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    QFont base = p.font();
    base.setFamily(QStringLiteral("DejaVu Sans"));
    base.setPixelSize(13);
    QFont titleFont = base;
    titleFont.setPixelSize(17);
    titleFont.setBold(true);

    // Title: the comment and the time of the one record, or the span of the records.
    const rv8::RecordingRecord& rec = d.first;
    QString line1, line2;
    const QString file = QFileInfo(QString::fromStdString(d.fileName)).fileName();
    if (d.single()) {
        line1 = rec.comment.empty() ? QStringLiteral("(no comment)")
                                    : QString::fromUtf8(rec.comment.data(),
                                                        static_cast<qsizetype>(rec.comment.size()));
        line2 = QStringLiteral("%1, record %2, %3, %4 Hz, %5 frames, event mark %6")
                    .arg(file)
                    .arg(rec.number)
                    .arg(RecordTime(rec.timeUs))
                    .arg(QString::fromStdString(rv8rec::Number(rec.sampleRate)))
                    .arg(rec.frames)
                    .arg(rec.eventMark);
    } else {
        line1 = QStringLiteral("%1: records %2 to %3 (%4 records)")
                    .arg(file)
                    .arg(d.spans.front().number)
                    .arg(d.spans.back().number)
                    .arg(d.count);
        line2 = QStringLiteral("from %1 to %2, minimum and maximum of each record")
                    .arg(RecordTime(d.spans.front().timeUs), RecordTime(d.spans.back().timeUs));
    }
    if (d.damaged) line2 += QStringLiteral("; the file has a damaged tail after these");
    p.setPen(kTitle);
    p.setFont(titleFont);
    p.drawText(QRectF(16, 8, w - 32, 24), Qt::AlignLeft | Qt::AlignVCenter, line1);
    p.setFont(base);
    p.setPen(kText);
    p.drawText(QRectF(16, 32, w - 32, 20), Qt::AlignLeft | Qt::AlignVCenter, line2);

    const uint16_t channels = std::max<uint16_t>(1, d.header.channelCount);
    const double left = 100, right = w - 24, top = kTop, bottom = h - kBelow, gap = kGap;
    const double panelH =
        std::max<double>(kMinPanel, (bottom - top - gap * (channels - 1)) / channels);
    const double plotW = std::max(10.0, right - left);

    // The time axis.
    Range xr{0, 1};
    QString xTitle;
    const bool timed = std::isfinite(rec.sampleRate) && rec.sampleRate > 0;
    if (d.single()) {
        if (timed) {
            xr.hi = rec.frames / rec.sampleRate;
            xTitle = QStringLiteral("time in the record (s)");
        } else {
            xr.hi = rec.frames;
            xTitle = QStringLiteral("frame (the record's sample rate is not a positive number)");
        }
    } else {
        xr.hi = 0;
        for (const RecordSpan& s : d.spans)
            xr.hi = std::max(xr.hi, SecondsBetween(d.spans.front().timeUs, s.timeUs) + s.seconds);
        xTitle = QStringLiteral("time since %1 (s)").arg(RecordTime(d.spans.front().timeUs));
    }
    if (!(xr.hi > xr.lo) || !std::isfinite(xr.hi)) xr.hi = xr.lo + 1;
    const auto X = [&](double t) { return left + (t - xr.lo) / xr.span() * plotW; };
    const std::vector<double> xticks = Ticks(xr, static_cast<int>(plotW / 110));

    for (uint16_t c = 0; c < channels; ++c) {
        const QColor color = ChannelColor(c);
        const double y0 = top + c * (panelH + gap);
        const QRectF panel(left, y0, plotW, panelH);

        // The volt range of the data drawn.
        double lo = std::numeric_limits<double>::infinity(), hi = -lo;
        if (d.single()) {
            for (std::size_t i = c; i < rec.samples.size(); i += d.header.channelCount) {
                const double v = d.volts(c, rec.samples[i]);
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        } else {
            for (const RecordSpan& s : d.spans) {
                if (c >= s.min.size()) continue;
                lo = std::min(lo, s.min[c]);
                hi = std::max(hi, s.max[c]);
            }
        }
        const Range yr = Padded(lo, hi);
        const auto Y = [&](double v) { return y0 + panelH - (v - yr.lo) / yr.span() * panelH; };

        p.fillRect(panel, kPanel);
        QPen gridPen(kGrid, 1, Qt::DotLine);
        p.setPen(gridPen);
        for (double t : xticks)
            p.drawLine(QLineF(X(t), y0, X(t), y0 + panelH));
        const std::vector<double> yticks = Ticks(yr, static_cast<int>(panelH / 40));
        for (double v : yticks)
            p.drawLine(QLineF(left, Y(v), right, Y(v)));
        p.setPen(QPen(kGrid, 1));
        p.drawRect(panel);

        // The volt axis in the channel's colour.
        p.setPen(color);
        p.setFont(base);
        for (double v : yticks) {
            p.drawText(QRectF(0, Y(v) - 9, left - 8, 18), Qt::AlignRight | Qt::AlignVCenter,
                       TickLabel(v));
        }
        p.save();
        p.translate(14, y0 + panelH / 2);
        p.rotate(-90);
        p.drawText(QRectF(-panelH / 2, -9, panelH, 18), Qt::AlignCenter,
                   QStringLiteral("CH%1 (V)").arg(c + 1));
        p.restore();

        // The data.
        p.save();
        p.setClipRect(panel);
        if (d.single()) {
            const std::size_t n = rec.frames;
            const uint16_t cc = d.header.channelCount;
            const auto T = [&](std::size_t i) { return timed ? i / rec.sampleRate : double(i); };
            p.setPen(QPen(color, 1.2));
            if (n > 0 && n <= 2 * static_cast<std::size_t>(plotW)) {
                QPolygonF line;
                line.reserve(static_cast<qsizetype>(n));
                for (std::size_t i = 0; i < n; ++i)
                    line << QPointF(X(T(i)), Y(d.volts(c, rec.samples[i * cc + c])));
                if (n == 1) {
                    p.drawEllipse(line.front(), 2, 2);
                } else {
                    p.drawPolyline(line);
                }
            } else if (n > 0) {
                // One vertical stroke per pixel column from its lowest to its highest sample,
                // joined to the column before.
                const int cols = static_cast<int>(plotW);
                QVector<QLineF> strokes;
                strokes.reserve(cols);
                int16_t prev = rec.samples[c];
                for (int k = 0; k < cols; ++k) {
                    const std::size_t a = n * static_cast<std::size_t>(k) / cols;
                    const std::size_t b = n * static_cast<std::size_t>(k + 1) / cols;
                    if (a >= b) continue;
                    int16_t smin = prev, smax = prev;
                    for (std::size_t i = a; i < b; ++i) {
                        const int16_t s = rec.samples[i * cc + c];
                        smin = std::min(smin, s);
                        smax = std::max(smax, s);
                    }
                    prev = rec.samples[(b - 1) * cc + c];
                    const double x = left + k + 0.5;
                    const double ya = Y(d.volts(c, smin)), yb = Y(d.volts(c, smax));
                    strokes << QLineF(x, std::max(ya, yb) + 0.5, x, std::min(ya, yb) - 0.5);
                }
                p.drawLines(strokes);
            }
        } else {
            QColor fill = color;
            fill.setAlpha(200);
            p.setPen(Qt::NoPen);
            p.setBrush(fill);
            const int64_t first = d.spans.front().timeUs;
            for (const RecordSpan& s : d.spans) {
                if (c >= s.min.size()) continue;
                const double x0 = X(SecondsBetween(first, s.timeUs));
                const double x1 =
                    std::max(X(SecondsBetween(first, s.timeUs) + s.seconds), x0 + 1.5);
                const double ya = Y(s.max[c]), yb = std::max(Y(s.min[c]), ya + 1.5);
                p.drawRect(QRectF(x0, ya, x1 - x0, yb - ya));
            }
        }
        p.restore();
    }

    // The time axis under the last panel.
    const double axisY = top + channels * panelH + (channels - 1) * gap;
    p.setPen(kText);
    p.setFont(base);
    for (double t : xticks) {
        p.drawText(QRectF(X(t) - 60, axisY + 4, 120, 18), Qt::AlignHCenter | Qt::AlignTop,
                   TickLabel(t));
    }
    p.drawText(QRectF(left, axisY + 24, plotW, 20), Qt::AlignHCenter | Qt::AlignTop, xTitle);
}

}  // namespace rv8plot
