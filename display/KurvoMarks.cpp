#include "display/KurvoMarks.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "display/Kurvo.h"
#include "display/KurvoImage.h"
#include "display/KurvoMath.h"

namespace rv8::kurvo {

namespace {

constexpr QRgb kCursor = 0xFFB8B8B8u;
constexpr QRgb kActive = 0xFFFFE07Au;
constexpr QRgb kPlain = 0xFFF2F2F2u;

bool Shown(double v) {
    return std::isfinite(v);
}

}  // namespace

bool Marks::empty() const {
    return !Shown(points[0]) && !Shown(points[1]) && !Shown(levels[0]) && !Shown(levels[1]) &&
           box.empty() && !(sampleDots > 0.0);
}

double ColumnForPoint(double p, int points, int width) {
    if (points >= width) return points > 0 ? p * width / points : 0.0;
    if (points < 2) return 0.0;
    return p * (width - 1) / (points - 1);
}

double PointForColumn(double x, int points, int width) {
    if (points >= width) return width > 0 ? x * points / width : 0.0;
    if (width < 2) return 0.0;
    return x * (points - 1) / (width - 1);
}

void DrawMarks(const Surface& frame, const Marks& m, const MarkInputs& in) {
    if (m.empty() || frame.width < 2 || frame.height < 2) return;
    const int w = frame.width;
    const int h = frame.height;
    const double s = in.scale;
    QImage target(reinterpret_cast<uchar*>(frame.bits), w, h, frame.stride, QImage::Format_RGB32);
    QPainter p(&target);

    // Dots on the samples, once they lie apart.
    if (m.sampleDots > 0.0 && in.values != nullptr && in.points >= 2 && in.points < w &&
        ColumnForPoint(1, in.points, w) >= m.sampleDots * s) {
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        const double r = 2.0 * s;
        for (int c = 0; c < 2; ++c) {
            if (!in.shown[c]) continue;
            p.setBrush(QColor::fromRgb(0xFF000000u | in.traceColour[c]));
            for (int i = 0; i < in.points; ++i) {
                const double x = ColumnForPoint(i, in.points, w);
                const int y = ValueToRow(in.values[2 * i + c], in.ymin[c], in.ymax[c], h);
                p.drawEllipse(QPointF(x + 0.5, y + 0.5), r, r);
            }
        }
        p.setRenderHint(QPainter::Antialiasing, false);
    }

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(kTextPixels * s))));
    p.setFont(font);
    const QFontMetrics fm(font);
    const int pad = static_cast<int>(std::lround(3 * s));
    const int lineH = fm.height() + static_cast<int>(std::lround(2 * s));
    // A text on a dark backing with its top left corner at (x, y).
    const auto label = [&](const QString& text, int x, int y, QRgb colour) {
        const int tw = fm.horizontalAdvance(text) + 2 * pad;
        x = std::clamp(x, 0, std::max(0, w - tw));
        y = std::clamp(y, 0, std::max(0, h - lineH));
        p.fillRect(QRect(x, y, tw, lineH), QColor(0, 0, 0, 205));
        p.setPen(QColor::fromRgb(colour));
        p.drawText(QRect(x + pad, y, tw - 2 * pad, lineH), Qt::AlignLeft | Qt::AlignVCenter, text);
        return tw;
    };
    const int penWidth = std::max(1, static_cast<int>(std::lround(s)));
    const auto pen = [&](int which) {
        QPen line(QColor::fromRgb(which == m.active ? kActive : kCursor), penWidth, Qt::DashLine);
        line.setDashPattern({4.0, 3.0});
        return line;
    };
    for (int i = 0; i < 2; ++i) {
        if (!Shown(m.points[i])) continue;
        const int x = std::clamp(
            static_cast<int>(std::floor(ColumnForPoint(m.points[i], in.points, w))), 0, w - 1);
        p.setPen(pen(i));
        p.drawLine(x, 0, x, h - 1);
        // Its name low down, clear of the readings at the top and the captions at the foot.
        label(QStringLiteral("T%1").arg(i + 1), x + penWidth, h - 4 * lineH,
              i == m.active ? kActive : kPlain);
    }
    for (int i = 0; i < 2; ++i) {
        if (!Shown(m.levels[i])) continue;
        const int y = std::clamp(static_cast<int>(std::lround(m.levels[i] * (h - 1))), 0, h - 1);
        p.setPen(pen(2 + i));
        p.drawLine(0, y, w - 1, y);
        label(QStringLiteral("V%1").arg(i + 1), pad, y - lineH - penWidth,
              2 + i == m.active ? kActive : kPlain);
    }
    if (!m.box.empty()) {
        int bw = 0;
        for (const MarkLine& l : m.box)
            bw = std::max(bw, fm.horizontalAdvance(l.text) + 2 * pad);
        const int x = std::max(0, w - bw - pad - static_cast<int>(std::lround(10 * s)));
        int y = static_cast<int>(std::lround(10 * s));  // below the trigger point marker
        for (const MarkLine& l : m.box) {
            const QRgb colour =
                l.channel == 0 || l.channel == 1 ? 0xFF000000u | in.textColour[l.channel] : kPlain;
            p.fillRect(QRect(x, y, bw, lineH), QColor(0, 0, 0, 205));
            p.setPen(QColor::fromRgb(colour));
            p.drawText(QRect(x + pad, y, bw - 2 * pad, lineH), Qt::AlignLeft | Qt::AlignVCenter,
                       l.text);
            y += lineH;
        }
    }
}

}  // namespace rv8::kurvo

namespace rv8 {

void Kurvo::Marks(const kurvo::Marks& marks) {
    marks_ = marks;
    invalidate();
}

void Kurvo::PlotFrames(const int16_t* interleaved, int32_t frames) {
    if (interleaved == nullptr || frames <= 0) return;
    // As PlotBuffer does, with a 32-bit count and two values a frame.
    lastValues_.assign(interleaved, interleaved + 2 * static_cast<std::size_t>(frames));
    framesPlotted();
}

void Kurvo::HideUnmeasured(bool hide) {
    if (hide == hideUnmeasured_) return;
    hideUnmeasured_ = hide;
    drawTraces(false);
}

void Kurvo::composeMarks(const kurvo::Surface& dst) {
    if (marks_.empty()) return;
    kurvo::MarkInputs in;
    in.points = lastKind_ == PlotKind::None ? 0 : lastPlotPoints();
    in.values = lastValues_.data();
    in.shown = {traceDrawn(0), traceDrawn(1)};
    in.ymin = ymin_;
    in.ymax = ymax_;
    for (int c = 0; c < 2; ++c) {
        in.traceColour[c] = drawColors_[c].rgb() & 0xFFFFFFu;
        in.textColour[c] = kurvo::LegibleColor(colors_[c].rgb()) & 0xFFFFFFu;
    }
    in.scale = pixelRatio();
    kurvo::DrawMarks(dst, marks_, in);
}

}  // namespace rv8
