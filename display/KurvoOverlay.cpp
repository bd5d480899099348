#include "display/KurvoOverlay.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <vector>

namespace rv8::kurvo {

namespace {

constexpr uint32_t kPlainText = 0xF2F2F2u;
constexpr uint32_t kMarker = 0xFFC857u;  // the trigger point: amber, apart from both channels
constexpr int kBackingAlpha = 205;       // of the black behind every text

ConstSurface SurfaceOf(const QImage& img) {
    return ConstSurface{reinterpret_cast<const uint32_t*>(img.constBits()), img.width(),
                        img.height(), img.bytesPerLine()};
}

void Blend(const Surface& frame, const QImage& tile, int x, int y) {
    BlendOver(frame, x, y, SurfaceOf(tile));
}

int Clamp(int v, int lo, int hi) {
    return std::max(lo, std::min(v, hi));
}

}  // namespace

void KurvoOverlay::setScale(double scale) {
    if (scale == scale_) return;
    scale_ = scale;
    cache_.clear();
    font_ = QFont(QStringLiteral("DejaVu Sans"));
    font_.setPixelSize(std::max(1, static_cast<int>(std::lround(kTextPixels * scale))));
    font_.setHintingPreference(QFont::PreferFullHinting);
    bold_ = font_;
    bold_.setBold(true);
    glyphs_.clear();
    const QFontMetrics fm(font_);
    padX_ = static_cast<int>(std::lround(3 * scale));
    padY_ = static_cast<int>(std::lround(1 * scale));
    lineHeight_ = fm.height() + 2 * padY_;
}

QImage KurvoOverlay::renderMarker(Style style, uint32_t colour) const {
    const double s = scale_;
    const QColor pen = QColor::fromRgb(0xFF000000u | colour);
    {
        // A small filled triangle with a dark rim, pointing down (at the top edge) or left
        // (at the right edge).
        const int longSide = static_cast<int>(std::lround(13 * s));
        const int shortSide = static_cast<int>(std::lround(8 * s));
        const bool down = style == Style::MarkerDown;
        QImage img(down ? longSide : shortSide, down ? shortSide : longSide,
                   QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(0, 0, 0, 230), std::max(1.0, s)));
        p.setBrush(pen);
        const double w = img.width() - 0.5, h = img.height() - 0.5;
        const QPolygonF shape =
            down ? QPolygonF({QPointF(0.5, 0.5), QPointF(w, 0.5), QPointF(w / 2 + 0.25, h)})
                 : QPolygonF({QPointF(w, 0.5), QPointF(w, h), QPointF(0.5, h / 2 + 0.25)});
        p.drawPolygon(shape);
        return img;
    }
}

const KurvoOverlay::Glyph& KurvoOverlay::glyph(char16_t c, bool bold) {
    const uint32_t key = (uint32_t{c} << 1) | (bold ? 1u : 0u);
    auto it = glyphs_.find(key);
    if (it != glyphs_.end()) return it->second;
    // The glyph in white on transparent, with room for what reaches beyond its advance, then
    // cut to the pixels it covers: composing blends no empty pixels.
    const QFont& font = bold ? bold_ : font_;
    const QFontMetrics fm(font);
    const QChar ch(c);
    Glyph g;
    g.advance = fm.horizontalAdvance(ch);
    const int margin = fm.height() / 2 + 1;
    QImage img(g.advance + 2 * margin, fm.height(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(QPointF(margin, fm.ascent()), QString(ch));
    }
    const QImage coverage = img.convertToFormat(QImage::Format_Alpha8);
    int x0 = coverage.width(), x1 = -1, y0 = coverage.height(), y1 = -1;
    for (int y = 0; y < coverage.height(); ++y) {
        const uchar* row = coverage.constScanLine(y);
        for (int x = 0; x < coverage.width(); ++x) {
            if (row[x] == 0) continue;
            x0 = std::min(x0, x);
            x1 = std::max(x1, x);
            y0 = std::min(y0, y);
            y1 = std::max(y1, y);
        }
    }
    if (x1 >= 0) {
        g.coverage = coverage.copy(x0, y0, x1 - x0 + 1, y1 - y0 + 1);
        g.dx = x0 - margin;
        g.dy = y0;
    }
    ++rendered_;
    return glyphs_.emplace(key, std::move(g)).first->second;
}

KurvoOverlay::TextRun KurvoOverlay::text(const QString& str, Style style, uint32_t colour) {
    const bool bold = style == Style::Warning;
    TextRun run{str, style, style == Style::Warning ? 0xFFFFFFu : colour, 0, lineHeight_};
    int width = 0;
    for (QChar c : str)
        width += glyph(c.unicode(), bold).advance;
    run.w = width + 2 * padX_;
    return run;
}

void KurvoOverlay::drawText(const Surface& frame, const TextRun& run, int x, int y) {
    const uint32_t backing = run.style == Style::Warning
                                 ? 0xF0B21313u  // red at 240 of 255, premultiplied
                                 : (static_cast<uint32_t>(kBackingAlpha) << 24);
    FillOver(frame, x, y, run.w, run.h, backing);
    const bool bold = run.style == Style::Warning;
    int pen = x + padX_;
    for (QChar c : run.text) {
        const Glyph& g = glyph(c.unicode(), bold);
        if (!g.coverage.isNull())
            BlendCoverage(frame, pen + g.dx, y + padY_ + g.dy, g.coverage.constBits(),
                          g.coverage.width(), g.coverage.height(), g.coverage.bytesPerLine(),
                          run.colour);
        pen += g.advance;
    }
}

QImage KurvoOverlay::marker(Style style, uint32_t colour) {
    const QString key =
        QString::number(static_cast<int>(style)) + QLatin1Char(':') + QString::number(colour, 16);
    auto it = cache_.find(key);
    if (it == cache_.end()) it = cache_.insert(key, renderMarker(style, colour));
    return *it;
}

void KurvoOverlay::draw(const Surface& frame, const Readouts& r, const ReadoutInputs& in,
                        const std::array<uint32_t, 2>& channelText, double scale) {
    setScale(scale);
    Layout at{frame, r, in, channelText};
    at.margin = static_cast<int>(std::lround(3 * scale));
    at.top = static_cast<int>(std::lround(10 * scale));  // below the trigger point marker
    drawEdgeMarkers(at);
    drawFootCaptions(at);
    drawMeasurementStrip(at);
    drawOverRangeNotes(at);
    drawSpectrumPeaks(at);
    drawCursor(at);
}

KurvoOverlay::Box KurvoOverlay::put(const Layout& at, const TextRun& t, int x, int y) {
    drawText(at.frame, t, x, y);
    return Box{x, y, t.width(), t.height()};
}

KurvoOverlay::Box KurvoOverlay::put(const Layout& at, const QImage& image, int x, int y) {
    Blend(at.frame, image, x, y);
    return Box{x, y, image.width(), image.height()};
}

// The trigger point at the top edge, the trigger level at the right edge.
void KurvoOverlay::drawEdgeMarkers(Layout& at) {
    const int W = at.frame.width;
    const int H = at.frame.height;
    if (at.r.triggerPointX >= 0) {
        const QImage m = marker(Style::MarkerDown, kMarker);
        put(at, m, Clamp(at.r.triggerPointX - m.width() / 2, 0, W - m.width()), 0);
    }
    for (int c = 0; c < 2; ++c) {
        if (at.r.channel[c].triggerLevelRow < 0) continue;
        const QImage m = marker(Style::MarkerLeft, at.channelText[c]);
        at.rightMarkerWidth = m.width();
        put(at, m, W - m.width(),
            Clamp(at.r.channel[c].triggerLevelRow - m.height() / 2, 0, H - m.height()));
    }
}

// The foot: the graticule lines' labels at the bottom, the scales and the record above them.
void KurvoOverlay::drawFootCaptions(const Layout& at) {
    const int W = at.frame.width;
    const int axisY = at.frame.height - lineHeight_;
    for (const AxisLabel& a : at.r.axis) {
        const TextRun t = text(a.text, Style::Plain, kPlainText);
        put(at, t, Clamp(a.x - t.width() / 2, 0, W - t.width()), axisY);
    }
    const int scaleY = axisY - lineHeight_ - static_cast<int>(std::lround(scale_));
    int x = at.margin;
    if (!at.r.perDivision.isEmpty())
        x += put(at, text(at.r.perDivision, Style::Plain, kPlainText), x, scaleY).w + at.margin;
    for (int c = 0; c < 2; ++c) {
        const QString& perDivision = at.r.channel[c].voltsPerDivision;
        if (perDivision.isEmpty()) continue;
        x += put(at, text(perDivision, Style::Channel, at.channelText[c]), x, scaleY).w + at.margin;
    }
    if (!at.r.info.isEmpty()) {
        const TextRun t = text(at.r.info, Style::Plain, kPlainText);
        put(at, t, std::max(x, W - t.width() - at.margin - at.rightMarkerWidth), scaleY);
    }
}

// The measurement strip at the top left, two lines per channel.
void KurvoOverlay::drawMeasurementStrip(const Layout& at) {
    int y = at.top;
    for (int c = 0; c < 2; ++c) {
        const ChannelReadouts& ch = at.r.channel[c];
        if (ch.frequency.isEmpty()) continue;
        const QString first = ChannelName(c) + QStringLiteral("  ") + ch.frequency +
                              QStringLiteral("  ") + ch.period + QStringLiteral("  ") +
                              ch.peakToPeak + QStringLiteral("  ") + ch.rms;
        const QString second = QStringLiteral("mean ") + ch.mean + QStringLiteral("   min ") +
                               ch.min + QStringLiteral("   max ") + ch.max;
        y += put(at, text(first, Style::Channel, at.channelText[c]), at.margin, y).h;
        y += put(at, text(second, Style::Channel, at.channelText[c]), at.margin, y).h + at.margin;
    }
}

// Over-range notes at the top right.
void KurvoOverlay::drawOverRangeNotes(const Layout& at) {
    int y = at.top;
    for (int c = 0; c < 2; ++c) {
        if (at.r.channel[c].overRange.isEmpty()) continue;
        const TextRun t = text(at.r.channel[c].overRange, Style::Warning, 0xFFFFFFu);
        const int x = std::max(0, at.frame.width - t.width() - at.margin - at.rightMarkerWidth);
        y += put(at, t, x, y).h + at.margin;
    }
}

// Spectrum peaks: a marker over each, its frequency and amplitude above it.
void KurvoOverlay::drawSpectrumPeaks(const Layout& at) {
    const int W = at.frame.width;
    const int H = at.frame.height;
    std::vector<Box> labels;
    for (int c = 0; c < 2; ++c) {
        const ChannelReadouts& ch = at.r.channel[c];
        if (ch.peak.isEmpty()) continue;
        const QImage m = marker(Style::MarkerDown, at.channelText[c]);
        const int px = static_cast<int>(std::lround(ch.peakX));
        const int markerY =
            Clamp(static_cast<int>(ch.peakY) - m.height() - at.margin, at.top, H - m.height());
        put(at, m, Clamp(px - m.width() / 2, 0, W - m.width()), markerY);
        const TextRun t = text(ch.peak, Style::Channel, at.channelText[c]);
        Box b{Clamp(px - t.width() / 2, 0, W - t.width()), std::max(at.top, markerY - t.height()),
              t.width(), t.height()};
        for (const Box& other : labels) {
            if (b.overlaps(other)) b.y = other.y + other.h;
        }
        labels.push_back(put(at, t, b.x, b.y));
    }
}

// The cursor readout beside the pointer, turned to stay inside the picture.
void KurvoOverlay::drawCursor(const Layout& at) {
    if (!at.in.cursor) return;
    const int W = at.frame.width;
    const int H = at.frame.height;
    std::vector<TextRun> lines;
    if (!at.r.cursorPosition.isEmpty())
        lines.push_back(text(at.r.cursorPosition, Style::Plain, kPlainText));
    for (int c = 0; c < 2; ++c) {
        if (!at.r.channel[c].cursor.isEmpty())
            lines.push_back(text(at.r.channel[c].cursor, Style::Channel, at.channelText[c]));
    }
    int bw = 0, bh = 0;
    for (const TextRun& t : lines) {
        bw = std::max(bw, t.width());
        bh += t.height();
    }
    const int gap = static_cast<int>(std::lround(14 * scale_));
    int bx = static_cast<int>(at.in.cursorX) + gap;
    int by = static_cast<int>(at.in.cursorY) + gap;
    if (bx + bw > W) bx = static_cast<int>(at.in.cursorX) - gap - bw;
    if (by + bh > H) by = static_cast<int>(at.in.cursorY) - gap - bh;
    bx = Clamp(bx, 0, std::max(0, W - bw));
    by = Clamp(by, 0, std::max(0, H - bh));
    for (const TextRun& t : lines)
        by += put(at, t, bx, by).h;
}

}  // namespace rv8::kurvo
