// The chart's plot of one display pass (HorizontalScale, PlotBuffer, then the widget's own paint
// into an image of its size), against drawing the same points as one QPainter polyline per
// channel on an image of the same size.
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <QPoint>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/BenchData.h"
#include "bench/Benchmarks.h"
#include "core/ChartGeometry.h"
#include "display/Kurvo.h"
#include "display/KurvoMath.h"
#include "display/KurvoRaster.h"

namespace rv8::bench {

namespace {

constexpr int kWidth = 512;
constexpr int kHeight = 401;
constexpr int32_t kChannel1Bgr = 0x00FF8000;
constexpr int32_t kChannel2Bgr = 0x000000FF;

void BM_ChartPlot(benchmark::State& state, Signal signal, int frames) {
    const std::vector<int16_t> data = MakeFrames(signal, frames);
    Kurvo chart;
    chart.resize(kWidth, kHeight);
    chart.TraceColor(0, kChannel1Bgr);
    chart.TraceColor(1, kChannel2Bgr);
    chart.BothChannels(true);
    QWidget& widget = chart;
    QImage target(kWidth, kHeight, QImage::Format_RGB32);
    const int16_t scale = static_cast<int16_t>(frames / chart::kFramesPerScaleStep);
    for (auto _ : state) {
        chart.HorizontalScale(scale);
        chart.PlotBuffer(data[0], 2, static_cast<int16_t>(frames));
        widget.render(&target);  // the widget's own paint event, into the image
        benchmark::DoNotOptimize(target.constBits());
    }
}

void BM_Polyline(benchmark::State& state, Signal signal, int frames) {
    const std::vector<int16_t> data = MakeFrames(signal, frames);
    QImage target(kWidth, kHeight, QImage::Format_RGB32);
    std::vector<QPoint> points(static_cast<std::size_t>(frames));
    const QColor colours[2] = {QColor::fromRgb(kurvo::BgrToRgb(kChannel1Bgr)),
                               QColor::fromRgb(kurvo::BgrToRgb(kChannel2Bgr))};
    for (auto _ : state) {
        target.fill(Qt::black);
        QPainter p(&target);
        for (int c = 0; c < 2; ++c) {
            for (int i = 0; i < frames; ++i) {
                const int x = static_cast<int>(int64_t{i} * (kWidth - 1) / (frames - 1));
                points[i] = QPoint(x, kurvo::ValueToRow(data[2 * i + c], -32768, 32767, kHeight));
            }
            p.setPen(colours[c]);
            p.drawPolyline(points.data(), frames);
        }
        p.end();
        benchmark::DoNotOptimize(target.constBits());
    }
}

// The raster step alone: two channels' spans (a sine over 16384 frames reduced to 512 columns)
// filled over a graticule into a 512 x 401 picture, as composing the traces does.
void BM_RasterFill(benchmark::State& state) {
    const int frames = 16384;
    const std::vector<int16_t> data = MakeFrames(Signal::Sine, frames);
    std::vector<uint32_t> grid(kWidth * kHeight), frame(kWidth * kHeight);
    const kurvo::Surface gridSurface{grid.data(), kWidth, kHeight, kWidth * 4};
    const kurvo::Surface frameSurface{frame.data(), kWidth, kHeight, kWidth * 4};
    kurvo::DrawGraticule(gridSurface, chart::kDivisionsX, chart::kDivisionsY, 0xFF000000u,
                         0xFF383838u, 0xFF6A6A6Au);
    std::vector<kurvo::MinMax> minMax(kWidth);
    std::vector<kurvo::RowSpan> spans(kWidth);
    std::vector<int> top[2], bottom[2];
    kurvo::SpanRef refs[2];
    for (int c = 0; c < 2; ++c) {
        kurvo::ReduceMinMaxInto(data.data() + c, 2, frames, kWidth, minMax.data());
        kurvo::ColumnSpansInto(minMax.data(), kWidth, -32768, 32767, kHeight, spans.data());
        for (const kurvo::RowSpan& r : spans) {
            top[c].push_back(r.top);
            bottom[c].push_back(r.bottom);
        }
        refs[c] =
            kurvo::SpanRef{top[c].data(), bottom[c].data(), c == 0 ? 0xFF0080FFu : 0xFFFF0000u};
    }
    for (auto _ : state) {
        kurvo::FillSpans(frameSurface, gridSurface, refs, 2, true);
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
}

// Its baseline: copying the graticule into the picture, what the step costs without traces.
void BM_RasterCopy(benchmark::State& state) {
    std::vector<uint32_t> grid(kWidth * kHeight, 0xFF383838u), frame(kWidth * kHeight);
    const kurvo::Surface gridSurface{grid.data(), kWidth, kHeight, kWidth * 4};
    const kurvo::Surface frameSurface{frame.data(), kWidth, kHeight, kWidth * 4};
    for (auto _ : state) {
        kurvo::CopySurface(frameSurface, gridSurface);
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
}

}  // namespace

void RegisterChartBenchmarks() {
    for (int frames : {512, 16384}) {
        for (Signal s : {Signal::Sine, Signal::Noise}) {
            const std::string tail =
                std::string(s == Signal::Sine ? "sine/" : "noise/") + std::to_string(frames);
            benchmark::RegisterBenchmark(("chart/" + tail).c_str(), BM_ChartPlot, s, frames);
            benchmark::RegisterBenchmark(("polyline/" + tail).c_str(), BM_Polyline, s, frames);
        }
    }
    benchmark::RegisterBenchmark("chart/raster/fill/512x401", BM_RasterFill);
    benchmark::RegisterBenchmark("chart/raster/copy/512x401", BM_RasterCopy);
}

}  // namespace rv8::bench
