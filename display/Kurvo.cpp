#include "display/Kurvo.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cstring>

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
    hscale_ = std::clamp<int16_t>(scale, 1, 32);
    render();
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
    if (frame_.size() != size()) {
        buildGrid();
        drawTraces(false);
    }
    return frame_.copy();
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
    for (int y = 0; y < persistence_.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(persistence_.scanLine(y));
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
    const QSize sz(std::max(1, width()), std::max(1, height()));
    if (persistence_.size() != sz) {
        persistence_ = QImage(sz, QImage::Format_RGB32);
        persistence_.fill(kBackground);
    } else if (newPlot && persistMode_ != 0) {
        fadeTraces();
    } else {
        // Persistence off, or the settings changed: earlier traces drawn under other settings
        // no longer fit, so only the last plot is shown.
        persistence_.fill(kBackground);
    }

    if (lastKind_ != PlotKind::None) {
        const int points = static_cast<int>(lastValues_.size() / 2);
        for (int c = 0; c < 2; ++c) {
            if (!channelShown(c) || points <= 0) continue;
            drawChannel(c, lastValues_.data() + c, points, drawColors_[c].rgb());
        }
    }
    render();
}

void Kurvo::drawChannel(int channel, const int16_t* values, int points, uint32_t rgb) {
    const int w = persistence_.width();
    const int h = persistence_.height();
    if (w < 1 || h < 1) return;
    const int32_t lo = ymin_[channel];
    const int32_t hi = ymax_[channel];
    const QRgb color = 0xFF000000u | rgb;

    if (points >= w) {
        // One min/max span per column, written straight into the scanlines.
        const std::vector<kurvo::RowSpan> spans =
            kurvo::ColumnSpans(kurvo::ReduceMinMax(values, 2, points, w), lo, hi, h);
        for (int x = 0; x < static_cast<int>(spans.size()); ++x) {
            for (int y = spans[x].top; y <= spans[x].bottom; ++y) {
                reinterpret_cast<QRgb*>(persistence_.scanLine(y))[x] = color;
            }
        }
        return;
    }

    QPainter p(&persistence_);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(QColor::fromRgb(color), 1));
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

void Kurvo::render() {
    if (grid_.size() != persistence_.size()) buildGrid();
    frame_ = grid_.copy();
    // Traces over the graticule; where both are lit the brighter component wins, so faded
    // traces do not cut gaps into the grid.
    for (int y = 0; y < frame_.height() && y < persistence_.height(); ++y) {
        const QRgb* src = reinterpret_cast<const QRgb*>(persistence_.constScanLine(y));
        QRgb* dst = reinterpret_cast<QRgb*>(frame_.scanLine(y));
        for (int x = 0; x < frame_.width(); ++x) {
            const QRgb t = src[x];
            if ((t & 0xFFFFFFu) == 0) continue;
            const QRgb g = dst[x];
            dst[x] = qRgb(std::max(qRed(t), qRed(g)), std::max(qGreen(t), qGreen(g)),
                          std::max(qBlue(t), qBlue(g)));
        }
    }
    if (lastKind_ != PlotKind::Array && frame_.height() > 20) {
        QPainter p(&frame_);
        QFont f = font();
        f.setPointSize(7);
        p.setFont(f);
        p.setPen(QColor::fromRgb(kCaption));
        p.drawText(QRect(4, frame_.height() - 16, frame_.width() - 8, 14),
                   Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("%1 x %2 frames").arg(kFramesPerScale).arg(hscale_));
    }
    update();
}

void Kurvo::paintEvent(QPaintEvent*) {
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
