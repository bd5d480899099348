#include "display/Kurvo.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/ChartGeometry.h"
#include "display/KurvoImage.h"
#include "display/KurvoMath.h"
#include "display/KurvoRaster.h"

namespace rv8 {

namespace {

constexpr QRgb kBackground = 0xFF000000u;
constexpr QRgb kGridDim = 0xFF383838u;
constexpr QRgb kGridCentre = 0xFF6A6A6Au;

QColor ToDrawColor(const QColor& given) {
    const uint32_t visible = kurvo::VisibleColor(given.rgb() & 0xFFFFFFu);
    return QColor::fromRgb(0xFF000000u | visible);
}

using kurvo::ConstSurfaceOf;
using kurvo::SurfaceOf;

}  // namespace

Kurvo::Kurvo(QWidget* parent) : QWidget(parent) {
    for (int c = 0; c < 2; ++c)
        drawColors_[c] = ToDrawColor(colors_[c]);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::WheelFocus);
    setMouseTracking(true);  // the cursor readout follows the mouse without a button held
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
    const int16_t limited = std::clamp<int16_t>(scale, 1, chart::kMaxScaleSteps);
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

void Kurvo::SpectrumAmplitudes(int16_t channel, std::span<const double> amplitudes) {
    if (channel < 0 || channel > 1) return;
    nextAmplitudes_[channel].assign(amplitudes.begin(), amplitudes.end());
}

void Kurvo::PlotArray(const std::vector<int16_t>& values) {
    lastValues_ = values;
    lastKind_ = PlotKind::Array;
    // The amplitudes handed over for this plot, if they are of its spectrum.
    for (int c = 0; c < 2; ++c) {
        amplitudes_[c].swap(nextAmplitudes_[c]);
        nextAmplitudes_[c].clear();
        if (amplitudes_[c].size() != values.size() / 2) amplitudes_[c].clear();
    }
    peaksStale_ = true;
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
    framesPlotted();
}

void Kurvo::framesPlotted() {
    lastKind_ = PlotKind::Buffer;
    for (int c = 0; c < 2; ++c) {
        nextAmplitudes_[c].clear();
        amplitudes_[c].clear();
    }
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

double Kurvo::pixelRatio() const {
    const double r = devicePixelRatioF();
    return r > 0 ? r : 1.0;
}

QSize Kurvo::surfaceSize() const {
    const double r = pixelRatio();
    return QSize(std::max(1, static_cast<int>(std::lround(width() * r))),
                 std::max(1, static_cast<int>(std::lround(height() * r))));
}

void Kurvo::invalidate() {
    frameStale_ = true;
    update();
}

void Kurvo::buildGrid() {
    const QSize sz = surfaceSize();
    grid_ = QImage(sz, QImage::Format_RGB32);
    // The centre cross's ticks keep their length on a sharper screen.
    const int tick = std::max(2, static_cast<int>(std::lround(2 * pixelRatio())));
    kurvo::DrawGraticule(SurfaceOf(grid_), chart::kDivisionsX, chart::kDivisionsY, kBackground,
                         kGridDim, kGridCentre, tick);
}

void Kurvo::fadeTraces() {
    kurvo::Fade(SurfaceOf(persistence_), kurvo::FadeFactor(persistDepth_));
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
        if (!traceDrawn(c)) continue;
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
    return traceDrawn(0) || traceDrawn(1);
}

void Kurvo::drawLastPlot(QImage& layer) {
    const int points = lastPlotPoints();
    if (lastKind_ == PlotKind::None || points <= 0) return;
    if (computeSpans(layer.width(), layer.height())) {
        kurvo::SpanRef refs[2];
        const int count = spanRefs(refs);
        const kurvo::Surface surface = SurfaceOf(layer);
        for (int y = 0; y < surface.height; ++y)
            kurvo::FillRow(surface.row(y), surface.row(y), y, surface.width, refs, count, false);
        return;
    }
    for (int c = 0; c < 2; ++c) {
        if (traceDrawn(c)) drawPolyline(layer, c, lastValues_.data() + c, points);
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

int Kurvo::spanRefs(kurvo::SpanRef* refs) const {
    int count = 0;
    for (int c = 0; c < 2; ++c) {
        if (traceDrawn(c))
            refs[count++] =
                kurvo::SpanRef{spans_[c].top.data(), spans_[c].bottom.data(), spans_[c].color};
    }
    return count;
}

void Kurvo::compose() {
    const QSize sz = surfaceSize();
    if (!frameStale_ && frame_.size() == sz) return;
    if (frame_.size() != sz) frame_ = QImage(sz, QImage::Format_RGB32);
    frame_.setDevicePixelRatio(pixelRatio());
    composeInto(kurvo::SurfaceOf(frame_));  // a copy first if a picture() taken earlier shares it
    frameStale_ = false;
}

void Kurvo::composeInto(const kurvo::Surface& dst) {
    composeGrid(QSize(dst.width, dst.height));
    composeTraces(dst);
    composeMarks(dst);
    composeCaptions(dst);
}

void Kurvo::composeGrid(const QSize& sz) {
    if (grid_.size() != sz) buildGrid();
}

void Kurvo::composeTraces(const kurvo::Surface& frame) {
    const QSize sz(frame.width, frame.height);
    const kurvo::ConstSurface grid = ConstSurfaceOf(grid_);

    // Traces over the graticule; where both are lit the brighter component wins, so faded
    // traces do not cut gaps into the grid.
    const bool persistent = persistMode_ != 0;
    if (persistent && persistence_.size() != sz) drawTraces(false);
    if (!persistent && computeSpans(sz.width(), sz.height())) {
        // The usual case: every column a span, straight over the graticule.
        kurvo::SpanRef refs[2];
        const int count = spanRefs(refs);
        kurvo::FillSpans(frame, grid, refs, count, true);
        return;
    }
    const QImage* layer = nullptr;
    if (persistent) {
        layer = &persistence_;
    } else if (lastKind_ != PlotKind::None && lastPlotPoints() > 0 &&
               (traceDrawn(0) || traceDrawn(1))) {
        // Fewer points than columns: polylines, drawn on a black layer first (the persistence
        // layer is free while persistence is off).
        if (persistence_.size() != sz) persistence_ = QImage(sz, QImage::Format_RGB32);
        persistence_.fill(kBackground);
        drawLastPlot(persistence_);
        layer = &persistence_;
    }
    if (layer != nullptr) {
        kurvo::CombineBrighter(frame, grid, ConstSurfaceOf(*layer));
    } else {
        kurvo::CopySurface(frame, grid);
    }
}

// Where the window is drawn into an image in memory (the usual case: the raster backing store
// of a top-level window), the chart is composed straight into it, without a picture of its own
// that would then be copied there. Only when the whole chart is to be painted, at one device
// pixel per picture pixel, into a 32-bit image that holds all of it.
bool Kurvo::paintDirect(QPainter& p, const QPaintEvent& event) {
    QPaintEngine* engine = p.paintEngine();
    if (engine == nullptr || engine->type() != QPaintEngine::Raster) return false;
    QPaintDevice* device = engine->paintDevice();
    if (device == nullptr || device->devType() != QInternal::Image) return false;
    auto* image = static_cast<QImage*>(device);
    if (image->format() != QImage::Format_RGB32 &&
        image->format() != QImage::Format_ARGB32_Premultiplied)
        return false;
    if (!(QRegion(rect()) - event.region()).isEmpty()) return false;
    const QTransform t = p.deviceTransform();
    const double r = pixelRatio();
    if (t.type() > QTransform::TxScale || t.m11() != r || t.m22() != r) return false;
    const QPoint at(static_cast<int>(t.dx()), static_cast<int>(t.dy()));
    if (at.x() != t.dx() || at.y() != t.dy()) return false;
    const QSize sz = surfaceSize();
    if (sz.isEmpty() || !image->rect().contains(QRect(at, sz))) return false;
    const kurvo::Surface whole = kurvo::SurfaceOf(*image);
    const auto stride = static_cast<std::ptrdiff_t>(whole.stride / 4);
    composeInto(kurvo::Surface{whole.bits + at.y() * stride + at.x(), sz.width(), sz.height(),
                               whole.stride});
    return true;
}

void Kurvo::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    if (paintDirect(p, *event)) return;
    compose();
    p.drawImage(QPointF(0, 0), frame_);  // one picture pixel to each screen pixel
}

void Kurvo::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    buildGrid();
    drawTraces(false);
}

}  // namespace rv8
