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
// The backing behind every text dims what lies under it to a bit less than half: a trace under a
// caption stays visible wherever it lies, and a dark rim around each glyph (its halo) keeps the
// text legible over it.
constexpr int kBackingAlpha = 140;
constexpr uint32_t kWarningBacking = 0x8C680B0Bu;  // red (189, 20, 20) at 140 of 255, premultiplied
constexpr int kHaloAlpha = 200;                    // of the black rim around each glyph

ConstSurface SurfaceOf(const QImage& img) {
    return ConstSurface{reinterpret_cast<const uint32_t*>(img.constBits()), img.width(),
                        img.height(), img.bytesPerLine()};
}

void Blend(const Surface& frame, const QImage& tile, int x, int y) {
    BlendOver(frame, x, y, SurfaceOf(tile));
}

// The coverage grown by `r` pixels each way (the largest coverage within r), at kHaloAlpha: the
// dark rim drawn under a glyph. r pixels larger than the glyph on every side.
QImage Halo(const QImage& coverage, int r) {
    const int w = coverage.width(), h = coverage.height();
    QImage halo(w + 2 * r, h + 2 * r, QImage::Format_Alpha8);
    halo.fill(0);
    for (int y = 0; y < halo.height(); ++y) {
        uchar* out = halo.scanLine(y);
        for (int x = 0; x < halo.width(); ++x) {
            int most = 0;
            for (int sy = std::max(0, y - 2 * r); sy <= std::min(h - 1, y); ++sy) {
                const uchar* in = coverage.constScanLine(sy);
                for (int sx = std::max(0, x - 2 * r); sx <= std::min(w - 1, x); ++sx)
                    most = std::max<int>(most, in[sx]);
            }
            out[x] = static_cast<uchar>(most * kHaloAlpha / 255);
        }
    }
    return halo;
}

// 0xRRGGBB at `alpha` of 255, premultiplied.
uint32_t Translucent(uint32_t rgb, int alpha) {
    auto part = [&](int shift) {
        return ((rgb >> shift) & 0xFFu) * static_cast<uint32_t>(alpha) / 255u;
    };
    return (static_cast<uint32_t>(alpha) << 24) | (part(16) << 16) | (part(8) << 8) | part(0);
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
    tiles_.clear();
    const QFontMetrics fm(font_);
    padX_ = static_cast<int>(std::lround(3 * scale));
    padY_ = static_cast<int>(std::lround(1 * scale));
    haloRadius_ = std::max(1, static_cast<int>(std::lround(scale)));
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
        g.halo = Halo(g.coverage, haloRadius_);
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
                                 ? kWarningBacking
                                 : (static_cast<uint32_t>(kBackingAlpha) << 24);
    FillOver(frame, x, y, run.w, run.h, backing);
    const bool bold = run.style == Style::Warning;
    // Each glyph with its rim, in the run's colour, as one premultiplied tile.
    int pen = x + padX_;
    for (QChar c : run.text) {
        const Glyph& g = glyph(c.unicode(), bold);
        if (!g.coverage.isNull())
            Blend(frame, tile(c.unicode(), bold, run.colour), pen + g.dx - haloRadius_,
                  y + padY_ + g.dy - haloRadius_);
        pen += g.advance;
    }
}

const QImage& KurvoOverlay::tile(char16_t c, bool bold, uint32_t colour) {
    const uint64_t key = (uint64_t{c} << 33) | (bold ? uint64_t{1} << 32 : 0) | colour;
    auto it = tiles_.find(key);
    if (it != tiles_.end()) return it->second;
    // Over each pixel the rim darkens what lies under it by its alpha h, then the glyph's
    // coverage g mixes in the colour: together colour x g on top of (255 - h) (255 - g) of
    // what was there.
    const Glyph& g = glyph(c, bold);
    const int r = haloRadius_;
    QImage img(g.halo.size(), QImage::Format_ARGB32_Premultiplied);
    auto div255 = [](uint32_t v) { return (v + 128 + ((v + 128) >> 8)) >> 8; };
    for (int y = 0; y < img.height(); ++y) {
        const uchar* rim = g.halo.constScanLine(y);
        auto* out = reinterpret_cast<uint32_t*>(img.scanLine(y));
        const int gy = y - r;
        const uchar* cover =
            gy >= 0 && gy < g.coverage.height() ? g.coverage.constScanLine(gy) : nullptr;
        for (int x = 0; x < img.width(); ++x) {
            const int gx = x - r;
            const uint32_t a =
                cover != nullptr && gx >= 0 && gx < g.coverage.width() ? cover[gx] : 0;
            const uint32_t alpha = 255 - div255((255 - rim[x]) * (255 - a));
            out[x] = (alpha << 24) | (div255(((colour >> 16) & 0xFFu) * a) << 16) |
                     (div255(((colour >> 8) & 0xFFu) * a) << 8) | div255((colour & 0xFFu) * a);
        }
    }
    return tiles_.emplace(key, std::move(img)).first->second;
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
    placed_.clear();
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

KurvoOverlay::Box KurvoOverlay::put(Layout& at, const TextRun& t, int x, int y) {
    drawText(at.frame, t, x, y);
    placed_.push_back(Placed{at.part, x, y, t.width(), t.height()});
    return Box{x, y, t.width(), t.height()};
}

KurvoOverlay::Box KurvoOverlay::put(Layout& at, const QImage& image, int x, int y) {
    Blend(at.frame, image, x, y);
    placed_.push_back(Placed{at.part, x, y, image.width(), image.height()});
    return Box{x, y, image.width(), image.height()};
}

// The trigger point at the top edge, the trigger level at the right edge.
void KurvoOverlay::drawEdgeMarkers(Layout& at) {
    const int W = at.frame.width;
    const int H = at.frame.height;
    if (at.r.triggerPointX >= 0) {
        at.part = Part::TriggerPoint;
        const QImage m = marker(Style::MarkerDown, kMarker);
        const Box point =
            put(at, m, Clamp(at.r.triggerPointX - m.width() / 2, 0, W - m.width()), 0);
        if (!at.r.triggerStatus.isEmpty()) {
            // Beside the marker (to its left where the right has no room); the texts below
            // start under it.
            at.part = Part::TriggerStatus;
            const TextRun t = text(at.r.triggerStatus, Style::Plain, kMarker);
            int x = point.x + point.w + at.margin;
            if (x + t.width() > W) x = std::max(0, point.x - at.margin - t.width());
            const Box status = put(at, t, x, 0);
            at.top = std::max(at.top, status.y + status.h + at.margin);
        }
    }
    for (int c = 0; c < 2; ++c) {
        const ChannelReadouts& ch = at.r.channel[c];
        if (ch.triggerLevelRow < 0) continue;
        const QImage m = marker(Style::MarkerLeft, at.channelText[c]);
        at.rightMarkerWidth = m.width();
        if (ch.hysteresisTop >= 0) {
            // The hysteresis band: a bar beside the marker from the level to where the signal
            // must go first, at least a pixel high.
            at.part = Part::Hysteresis;
            const int bar = std::max(2, static_cast<int>(std::lround(3 * scale_)));
            const int x = W - m.width() - bar - 1;
            const int y0 = Clamp(ch.hysteresisTop, 0, H - 1);
            const int y1 = Clamp(ch.hysteresisBottom, y0, H - 1);
            FillOver(at.frame, x, y0, bar, y1 - y0 + 1, Translucent(at.channelText[c], 150));
            placed_.push_back(Placed{at.part, x, y0, bar, y1 - y0 + 1});
        }
        at.part = Part::TriggerLevel;
        put(at, m, W - m.width(), Clamp(ch.triggerLevelRow - m.height() / 2, 0, H - m.height()));
    }
}

// The foot: the graticule lines' labels at the bottom, the scales and the record above them.
void KurvoOverlay::drawFootCaptions(Layout& at) {
    const int W = at.frame.width;
    const int axisY = at.frame.height - lineHeight_;
    at.part = Part::Axis;
    for (const AxisLabel& a : at.r.axis) {
        const TextRun t = text(a.text, Style::Plain, kPlainText);
        put(at, t, Clamp(a.x - t.width() / 2, 0, W - t.width()), axisY);
    }
    const int scaleY = axisY - lineHeight_ - static_cast<int>(std::lround(scale_));
    at.footTop = scaleY;
    at.part = Part::Scale;
    int x = at.margin;
    if (!at.r.perDivision.isEmpty())
        x += put(at, text(at.r.perDivision, Style::Plain, kPlainText), x, scaleY).w + at.margin;
    for (int c = 0; c < 2; ++c) {
        const QString& perDivision = at.r.channel[c].voltsPerDivision;
        if (perDivision.isEmpty()) continue;
        x += put(at, text(perDivision, Style::Channel, at.channelText[c]), x, scaleY).w + at.margin;
    }
    if (!at.r.info.isEmpty()) {
        at.part = Part::Info;
        const TextRun t = text(at.r.info, Style::Plain, kPlainText);
        put(at, t, std::max(x, W - t.width() - at.margin - at.rightMarkerWidth), scaleY);
    }
}

// The measurement strip at the top left, two lines per channel, and a third with the duty cycle
// and the edges where the channel has a period; "CH2 not measured" for a channel left out; the
// statistics in its place while they are shown.
void KurvoOverlay::drawMeasurementStrip(Layout& at) {
    at.part = Part::Strip;
    int y = at.top;
    for (int c = 0; c < 2; ++c) {
        const ChannelReadouts& ch = at.r.channel[c];
        QStringList lines;
        if (!ch.notMeasured.isEmpty()) {
            lines << ch.notMeasured;
        } else if (!ch.statistics.isEmpty()) {
            lines = ch.statistics;
        } else if (!ch.frequency.isEmpty()) {
            lines << measurementLines(ch, c);
        }
        for (const QString& line : lines) {
            if (line.isEmpty()) continue;
            const Box b = put(at, text(line, Style::Channel, at.channelText[c]), at.margin, y);
            at.taken.push_back(b);
            y += b.h;
        }
        if (!lines.isEmpty()) y += at.margin;
    }
}

QStringList KurvoOverlay::measurementLines(const ChannelReadouts& ch, int c) {
    QStringList lines{ChannelName(c) + QStringLiteral("  ") + ch.frequency + QStringLiteral("  ") +
                          ch.period + QStringLiteral("  ") + ch.peakToPeak + QStringLiteral("  ") +
                          ch.rms,
                      ch.meanLabel + QLatin1Char(' ') + ch.mean + QStringLiteral("   min ") +
                          ch.min + QStringLiteral("   max ") + ch.max};
    if (!ch.duty.isEmpty()) {
        lines << QStringLiteral("duty ") + ch.duty + QStringLiteral("   rise ") + ch.rise +
                     QStringLiteral("   fall ") + ch.fall;
    }
    return lines;
}

// Over-range notes at the top right.
void KurvoOverlay::drawOverRangeNotes(Layout& at) {
    at.part = Part::OverRange;
    int y = at.top;
    for (int c = 0; c < 2; ++c) {
        if (at.r.channel[c].overRange.isEmpty()) continue;
        const TextRun t = text(at.r.channel[c].overRange, Style::Warning, 0xFFFFFFu);
        const int x = std::max(0, at.frame.width - t.width() - at.margin - at.rightMarkerWidth);
        at.taken.push_back(put(at, t, x, y));
        y += t.height() + at.margin;
    }
}

// Spectrum peaks: a marker over each, its frequency and amplitude above it. Both stay above the
// foot captions, and a label moves up or down as little as it takes to keep clear of the
// measurement strip, the over-range notes and the other label.
void KurvoOverlay::drawSpectrumPeaks(Layout& at) {
    const int W = at.frame.width;
    const int bottom = at.footTop > at.top ? at.footTop : at.frame.height;
    for (int c = 0; c < 2; ++c) {
        const ChannelReadouts& ch = at.r.channel[c];
        if (ch.peak.isEmpty()) continue;
        at.part = Part::PeakMarker;
        const QImage m = marker(Style::MarkerDown, at.channelText[c]);
        const int px = static_cast<int>(std::lround(ch.peakX));
        const int markerY = Clamp(static_cast<int>(ch.peakY) - m.height() - at.margin, at.top,
                                  std::max(at.top, bottom - m.height()));
        put(at, m, Clamp(px - m.width() / 2, 0, W - m.width()), markerY);
        const TextRun t = ch.peakCutOff ? text(ch.peak, Style::Warning, 0xFFFFFFu)
                                        : text(ch.peak, Style::Channel, at.channelText[c]);
        Box b{Clamp(px - t.width() / 2, 0, W - t.width()), std::max(at.top, markerY - t.height()),
              t.width(), t.height()};
        Settle(b, at.taken, at.top, bottom);
        at.part = Part::Peak;
        at.taken.push_back(put(at, t, b.x, b.y));
    }
}

void KurvoOverlay::Settle(Box& b, const std::vector<Box>& clear, int top, int bottom) {
    const int lowest = std::max(top, bottom - b.h);
    const int wanted = Clamp(b.y, top, lowest);
    auto free = [&](int y) {
        const Box at{b.x, y, b.w, b.h};
        return std::none_of(clear.begin(), clear.end(),
                            [&](const Box& o) { return at.overlaps(o); });
    };
    // Where it would like to be, or just below or just above one of the others.
    std::vector<int> candidates{wanted};
    for (const Box& o : clear) {
        candidates.push_back(o.y + o.h);
        candidates.push_back(o.y - b.h);
    }
    int best = wanted;
    int bestDistance = -1;
    for (int y : candidates) {
        if (y < top || y > lowest || !free(y)) continue;
        const int distance = std::abs(y - wanted);
        if (bestDistance < 0 || distance < bestDistance) {
            best = y;
            bestDistance = distance;
        }
    }
    b.y = best;
}

// The cursor readout beside the pointer, turned to stay inside the picture.
void KurvoOverlay::drawCursor(Layout& at) {
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
    at.part = Part::Cursor;
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
