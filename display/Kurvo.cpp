#include "display/Kurvo.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "display/KurvoMath.h"

namespace rv8 {

namespace {

constexpr int kDivX = 10;
constexpr int kDivY = 8;
constexpr int kFramesPerScale = 512;
constexpr QRgb kBackground = 0xFF000000u;
constexpr QRgb kGridDim = 0xFF383838u;
constexpr QRgb kGridCentre = 0xFF6A6A6Au;
constexpr QRgb kCaption = 0xFF8C8C8Cu;

QColor ToDrawColor(const QColor& given) {
    const uint32_t visible = kurvo::VisibleColor(given.rgb() & 0xFFFFFFu);
    return QColor::fromRgb(0xFF000000u | visible);
}

void Put(QImage& img, int x, int y, QRgb c) {
    if (x >= 0 && y >= 0 && x < img.width() && y < img.height()) {
        reinterpret_cast<QRgb*>(img.scanLine(y))[x] = c;
    }
}

// The brighter of each colour component; both are opaque, so is the result.
inline QRgb Brighter(QRgb a, QRgb b) {
    return 0xFF000000u | (std::max(a & 0xFF0000u, b & 0xFF0000u)) |
           (std::max(a & 0xFF00u, b & 0xFF00u)) | (std::max(a & 0xFFu, b & 0xFFu));
}

// dst[x] = Brighter(a[x], b[x]) for a row of w pixels.
void BrighterRow(QRgb* dst, const QRgb* a, const QRgb* b, int w) {
    int x = 0;
#if defined(__SSE2__)
    for (; x + 4 <= w; x += 4) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), _mm_max_epu8(va, vb));
    }
#endif
    for (; x < w; ++x)
        dst[x] = Brighter(a[x], b[x]);
}

// A channel's spans as one row-major fill sees them.
struct SpanRef {
    const int* top;
    const int* bottom;
    QRgb color;
};

// Row y of a picture w pixels wide: src[x] where no span covers (x, y); where spans cover it,
// the colour of the last of them, or with `overGrid` the brighter of that colour and src[x].
// Row by row rather than column by column, so that every write is sequential.
void FillRow(QRgb* dst, const QRgb* src, int y, int w, const SpanRef* spans, int count,
             bool overGrid) {
    int x = 0;
#if defined(__SSE2__)
    const __m128i row = _mm_set1_epi32(y);
    for (; x + 4 <= w; x += 4) {
        const __m128i under = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
        __m128i out = under;
        for (int i = 0; i < count; ++i) {
            const __m128i top = _mm_loadu_si128(reinterpret_cast<const __m128i*>(spans[i].top + x));
            const __m128i bottom =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(spans[i].bottom + x));
            const __m128i outside =
                _mm_or_si128(_mm_cmpgt_epi32(top, row), _mm_cmpgt_epi32(row, bottom));
            __m128i colour = _mm_set1_epi32(static_cast<int>(spans[i].color));
            if (overGrid) colour = _mm_max_epu8(colour, under);
            out = _mm_or_si128(_mm_and_si128(outside, out), _mm_andnot_si128(outside, colour));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), out);
    }
#endif
    for (; x < w; ++x) {
        QRgb out = src[x];
        for (int i = 0; i < count; ++i) {
            if (spans[i].top[x] <= y && y <= spans[i].bottom[x])
                out = overGrid ? Brighter(spans[i].color, src[x]) : spans[i].color;
        }
        dst[x] = out;
    }
}

}  // namespace

Kurvo::Kurvo(QWidget* parent) : QWidget(parent) {
    for (int c = 0; c < 2; ++c)
        drawColors_[c] = ToDrawColor(colors_[c]);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::WheelFocus);
    resize(sizeHint());
    buildGrid();
    drawTraces(false);
}

Kurvo::~Kurvo() = default;

void Kurvo::ShownChannel(int16_t channel) {
    if (channel < 0 || channel > 1) return;
    shown_ = channel;
    drawTraces(false);
}

void Kurvo::BothChannels(bool both) {
    both_ = both;
    drawTraces(false);
}

void Kurvo::HorizontalScale(int16_t scale) {
    const int16_t limited = std::clamp<int16_t>(scale, 1, 32);
    if (limited == hscale_) return;  // the display pass sets it before every plot
    hscale_ = limited;
    invalidate();
}

void Kurvo::PersistenceMode(int16_t mode) {
    persistMode_ = mode;
    drawTraces(false);
}

void Kurvo::PersistenceDepth(int16_t depth) {
    // The depth only affects how the next plots fade; nothing on screen changes now.
    persistDepth_ = std::clamp<int16_t>(depth, 0, 32);
}

void Kurvo::PlotArray(const std::vector<int16_t>& values) {
    lastValues_ = values;
    lastKind_ = PlotKind::Array;
    ++plotCount_;
    drawTraces(true);
}

void Kurvo::PlotBuffer(const int16_t& first, int16_t valuesPerFrame, int16_t frameCount) {
    if (valuesPerFrame < 2 || frameCount <= 0) return;
    // Copy the two channel values of each frame now: the caller releases the block afterwards.
    const int16_t* src = &first;
    const int frames = frameCount;
    const std::ptrdiff_t stride = valuesPerFrame;
    lastValues_.resize(static_cast<std::size_t>(frames) * 2);
    if (stride == 2) {
        std::memcpy(lastValues_.data(), src, lastValues_.size() * sizeof(int16_t));
    } else {
        for (int i = 0; i < frames; ++i) {
            lastValues_[2 * i] = src[i * stride];
            lastValues_[2 * i + 1] = src[i * stride + 1];
        }
    }
    lastKind_ = PlotKind::Buffer;
    ++plotCount_;
    drawTraces(true);
}

void Kurvo::CopyToClipboard() {
    if (QClipboard* clip = QGuiApplication::clipboard()) clip->setImage(picture());
}

void Kurvo::TraceColor(int16_t channel, int32_t bgr) {
    if (channel < 0 || channel > 1) return;
    colors_[channel] = QColor::fromRgb(0xFF000000u | kurvo::BgrToRgb(bgr));
    drawColors_[channel] = ToDrawColor(colors_[channel]);
    drawTraces(false);
}

int32_t Kurvo::YMax(int16_t channel) const {
    return (channel < 0 || channel > 1) ? 0 : ymax_[channel];
}

void Kurvo::YMax(int16_t channel, int32_t value) {
    if (channel < 0 || channel > 1) return;
    ymax_[channel] = value;
    drawTraces(false);
}

int32_t Kurvo::YMin(int16_t channel) const {
    return (channel < 0 || channel > 1) ? 0 : ymin_[channel];
}

void Kurvo::YMin(int16_t channel, int32_t value) {
    if (channel < 0 || channel > 1) return;
    ymin_[channel] = value;
    drawTraces(false);
}

QImage Kurvo::picture() {
    compose();
    return frame_;  // shared until either side changes it
}

QSize Kurvo::surfaceSize() const {
    return QSize(std::max(1, width()), std::max(1, height()));
}

void Kurvo::invalidate() {
    frameStale_ = true;
    update();
}

void Kurvo::buildGrid() {
    const int w = std::max(1, width());
    const int h = std::max(1, height());
    grid_ = QImage(w, h, QImage::Format_RGB32);
    grid_.fill(kBackground);
    // Dotted division lines, every other pixel.
    for (int i = 0; i <= kDivX; ++i) {
        const int x = i * (w - 1) / kDivX;
        for (int y = 0; y < h; y += 2)
            Put(grid_, x, y, kGridDim);
    }
    for (int j = 0; j <= kDivY; ++j) {
        const int y = j * (h - 1) / kDivY;
        for (int x = 0; x < w; x += 2)
            Put(grid_, x, y, kGridDim);
    }
    // Solid, brighter centre cross with a tick every fifth of a division.
    const int cx = (kDivX / 2) * (w - 1) / kDivX;
    const int cy = (kDivY / 2) * (h - 1) / kDivY;
    for (int y = 0; y < h; ++y)
        Put(grid_, cx, y, kGridCentre);
    for (int x = 0; x < w; ++x)
        Put(grid_, x, cy, kGridCentre);
    for (int t = 0; t <= kDivX * 5; ++t) {
        const int x = t * (w - 1) / (kDivX * 5);
        for (int d = -2; d <= 2; ++d)
            Put(grid_, x, cy + d, kGridCentre);
    }
    for (int t = 0; t <= kDivY * 5; ++t) {
        const int y = t * (h - 1) / (kDivY * 5);
        for (int d = -2; d <= 2; ++d)
            Put(grid_, cx + d, y, kGridCentre);
    }
}

void Kurvo::fadeTraces() {
    const int factor = kurvo::FadeFactor(persistDepth_);
    if (factor == 0) {
        persistence_.fill(kBackground);
        return;
    }
    uchar* bits = persistence_.bits();
    const qsizetype stride = persistence_.bytesPerLine();
    for (int y = 0; y < persistence_.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(bits + y * stride);
        for (int x = 0; x < persistence_.width(); ++x) {
            const QRgb p = line[x];
            if ((p & 0xFFFFFFu) == 0) continue;
            const uint32_t r = (qRed(p) * factor) >> 16;
            const uint32_t g = (qGreen(p) * factor) >> 16;
            const uint32_t b = (qBlue(p) * factor) >> 16;
            line[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
        }
    }
}

void Kurvo::drawTraces(bool newPlot) {
    if (persistMode_ != 0) {
        const QSize sz = surfaceSize();
        if (persistence_.size() != sz) {
            persistence_ = QImage(sz, QImage::Format_RGB32);
            persistence_.fill(kBackground);
        } else if (newPlot) {
            fadeTraces();
        } else {
            // The settings changed: earlier traces drawn under other settings no longer fit,
            // so only the last plot is shown.
            persistence_.fill(kBackground);
        }
        drawLastPlot(persistence_);
    }
    invalidate();
}

bool Kurvo::computeSpans(int w, int h) {
    const int points = lastPlotPoints();
    if (lastKind_ == PlotKind::None || points < w || w < 1) return false;
    columnMinMax_.resize(static_cast<std::size_t>(w));
    columnSpans_.resize(static_cast<std::size_t>(w));
    for (int c = 0; c < 2; ++c) {
        if (!channelShown(c)) continue;
        kurvo::ReduceMinMaxInto(lastValues_.data() + c, 2, points, w, columnMinMax_.data());
        kurvo::ColumnSpansInto(columnMinMax_.data(), w, ymin_[c], ymax_[c], h, columnSpans_.data());
        Spans& s = spans_[c];
        s.top.resize(static_cast<std::size_t>(w));
        s.bottom.resize(static_cast<std::size_t>(w));
        for (int x = 0; x < w; ++x) {
            s.top[x] = columnSpans_[x].top;
            s.bottom[x] = columnSpans_[x].bottom;
        }
        s.color = drawColors_[c].rgb() | 0xFF000000u;
    }
    return channelShown(0) || channelShown(1);
}

void Kurvo::drawLastPlot(QImage& layer) {
    const int points = lastPlotPoints();
    if (lastKind_ == PlotKind::None || points <= 0) return;
    if (computeSpans(layer.width(), layer.height())) {
        SpanRef refs[2];
        int count = 0;
        for (int c = 0; c < 2; ++c) {
            if (channelShown(c))
                refs[count++] =
                    SpanRef{spans_[c].top.data(), spans_[c].bottom.data(), spans_[c].color};
        }
        uchar* bits = layer.bits();
        const qsizetype stride = layer.bytesPerLine();
        for (int y = 0; y < layer.height(); ++y) {
            QRgb* row = reinterpret_cast<QRgb*>(bits + y * stride);
            FillRow(row, row, y, layer.width(), refs, count, false);
        }
        return;
    }
    for (int c = 0; c < 2; ++c) {
        if (channelShown(c)) drawPolyline(layer, c, lastValues_.data() + c, points);
    }
}

void Kurvo::drawPolyline(QImage& layer, int channel, const int16_t* values, int points) {
    const int w = layer.width();
    const int h = layer.height();
    if (w < 1 || h < 1) return;
    const int32_t lo = ymin_[channel];
    const int32_t hi = ymax_[channel];
    QPainter p(&layer);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(QColor::fromRgb(drawColors_[channel].rgb() | 0xFF000000u), 1));
    if (points == 1) {
        const int y = kurvo::ValueToRow(values[0], lo, hi, h);
        p.drawLine(0, y, w - 1, y);
        return;
    }
    std::vector<QPoint> line(static_cast<std::size_t>(points));
    for (int i = 0; i < points; ++i) {
        const int x = static_cast<int>(int64_t{i} * (w - 1) / (points - 1));
        line[i] = QPoint(x, kurvo::ValueToRow(values[2 * i], lo, hi, h));
    }
    p.drawPolyline(line.data(), points);
}

void Kurvo::buildCaption() {
    const int w = frame_.width() - 8;
    if (w < 1) {
        caption_ = QImage();
        return;
    }
    caption_ = QImage(w, 14, QImage::Format_ARGB32_Premultiplied);
    caption_.fill(Qt::transparent);
    QPainter p(&caption_);
    QFont f = font();
    f.setPointSize(7);
    p.setFont(f);
    p.setPen(QColor::fromRgb(kCaption));
    p.drawText(QRect(0, 0, w, 14), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("%1 x %2 frames").arg(kFramesPerScale).arg(hscale_));
    captionScale_ = hscale_;
}

void Kurvo::compose() {
    const QSize sz = surfaceSize();
    if (!frameStale_ && frame_.size() == sz) return;
    if (grid_.size() != sz) buildGrid();
    if (frame_.size() != sz) {
        frame_ = QImage(sz, QImage::Format_RGB32);
        captionScale_ = 0;
    }
    const int w = sz.width();
    const int h = sz.height();
    uchar* bits = frame_.bits();  // a copy first if a picture() taken earlier still shares it
    const qsizetype stride = frame_.bytesPerLine();
    const uchar* gridBits = grid_.constBits();
    const qsizetype gridStride = grid_.bytesPerLine();
    auto frameRow = [&](int y) { return reinterpret_cast<QRgb*>(bits + y * stride); };
    auto gridRow = [&](int y) { return reinterpret_cast<const QRgb*>(gridBits + y * gridStride); };

    // Traces over the graticule; where both are lit the brighter component wins, so faded
    // traces do not cut gaps into the grid.
    const bool persistent = persistMode_ != 0;
    if (persistent && persistence_.size() != sz) drawTraces(false);
    if (!persistent && computeSpans(w, h)) {
        // The usual case: every column a span, straight over the graticule.
        SpanRef refs[2];
        int count = 0;
        int first = h;
        int last = -1;
        for (int c = 0; c < 2; ++c) {
            if (!channelShown(c)) continue;
            const Spans& s = spans_[c];
            refs[count++] = SpanRef{s.top.data(), s.bottom.data(), s.color};
            first = std::min(first, *std::min_element(s.top.begin(), s.top.end()));
            last = std::max(last, *std::max_element(s.bottom.begin(), s.bottom.end()));
        }
        for (int y = 0; y < h; ++y) {
            if (y < first || y > last) {
                std::memcpy(frameRow(y), gridRow(y), static_cast<std::size_t>(w) * sizeof(QRgb));
            } else {
                FillRow(frameRow(y), gridRow(y), y, w, refs, count, true);
            }
        }
    } else {
        const QImage* layer = nullptr;
        if (persistent) {
            layer = &persistence_;
        } else if (lastKind_ != PlotKind::None && lastPlotPoints() > 0 &&
                   (channelShown(0) || channelShown(1))) {
            // Fewer points than columns: polylines, drawn on a black layer first (the
            // persistence layer is free while persistence is off).
            if (persistence_.size() != sz) persistence_ = QImage(sz, QImage::Format_RGB32);
            persistence_.fill(kBackground);
            drawLastPlot(persistence_);
            layer = &persistence_;
        }
        if (layer != nullptr) {
            const uchar* layerBits = layer->constBits();
            const qsizetype layerStride = layer->bytesPerLine();
            for (int y = 0; y < h; ++y) {
                BrighterRow(frameRow(y), gridRow(y),
                            reinterpret_cast<const QRgb*>(layerBits + y * layerStride), w);
            }
        } else {
            for (int y = 0; y < h; ++y)
                std::memcpy(frameRow(y), gridRow(y), static_cast<std::size_t>(w) * sizeof(QRgb));
        }
    }

    // The caption at the foot of the time view, over the traces.
    if (lastKind_ != PlotKind::Array && h > 20) {
        if (captionScale_ != hscale_) buildCaption();
        const int cw = std::min(caption_.width(), w - 4);
        for (int y = 0; y < caption_.height(); ++y) {
            const QRgb* src = reinterpret_cast<const QRgb*>(caption_.constScanLine(y));
            QRgb* dst = frameRow(h - 16 + y) + 4;
            for (int x = 0; x < cw; ++x) {
                const QRgb s = src[x];
                const uint32_t a = qAlpha(s);
                if (a == 0) continue;
                const QRgb d = dst[x];
                auto over = [a](uint32_t sc, uint32_t dc) {
                    return sc + (dc * (255 - a) + 127) / 255;
                };
                dst[x] = qRgb(over(qRed(s), qRed(d)), over(qGreen(s), qGreen(d)),
                              over(qBlue(s), qBlue(d)));
            }
        }
    }
    frameStale_ = false;
}

void Kurvo::paintEvent(QPaintEvent*) {
    compose();
    QPainter p(this);
    p.drawImage(0, 0, frame_);
}

void Kurvo::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    buildGrid();
    drawTraces(false);
}

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
    dragging_ = true;
    dragStart_ = event->position().toPoint();
    dragMin_ = ymin_;
    dragMax_ = ymax_;
}

void Kurvo::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    event->accept();
    // The range follows the mouse on screen; the window hears of it once, at release.
    const int dy = event->position().toPoint().y() - dragStart_.y();
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
    mouseMoveEvent(event);
    dragging_ = false;
    if (ymin_ != dragMin_ || ymax_ != dragMax_) emit RangeChanged(0, 0);
}

}  // namespace rv8
