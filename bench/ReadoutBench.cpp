// What the chart's readouts cost a display pass: the window's display pass (DisplayPass: the
// SampleBlock from the raw buffers, the chart's settings, the measurements, the plot) over a
// 130000-frame record of the simulated instrument's two channels, the logging step's masking,
// and the composition of the chart's picture, with the readouts on and, in the same run, off.
// Eight records of the simulator take turns, so the measured texts change as they do in use.
#include <benchmark/benchmark.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>

#include <memory>
#include <vector>

#include "bench/Benchmarks.h"
#include "core/Samples.h"
#include "display/DisplayPass.h"
#include "display/Kurvo.h"
#include "display/Measurements.h"
#include "display/Spektra.h"
#include "sim/SimInstrument.h"

namespace rv8::bench {

namespace {

constexpr int32_t kLength = 130000;
constexpr int kRecords = 8;

// The controls a display pass reads, set up as the window has them after start-up with chop,
// both channels shown, record length 130000 and Scale 1.
struct Window {
    Kurvo chart;
    Spektra spektra1, spektra2;
    QRadioButton timeView, spectrumView;
    QScrollBar position{Qt::Horizontal}, scale{Qt::Horizontal};
    QLabel ymax1, ymax2, ymin1, ymin2;
    QLineEdit sense1{QStringLiteral("4")}, sense2{QStringLiteral("0.8")};
    std::vector<std::vector<uint16_t>> raw1, raw2;
    std::vector<std::unique_ptr<DisplayPass>> passes;  // one per record

    explicit Window(bool spectrum) {
        chart.resize(512, 401);
        chart.TraceColor(0, 0x00FF0000);
        chart.TraceColor(1, 0x000000C0);
        chart.BothChannels(true);
        (spectrum ? spectrumView : timeView).setChecked(true);
        if (spectrum) {
            chart.YMin(0, 0);
            chart.YMin(1, 0);
            chart.YMax(0, 32768);
            chart.YMax(1, 32768);
        }
        position.setRange(0, 16384);
        position.setValue(8192);
        scale.setRange(1, 32);
        scale.setValue(1);
        Acquisition settings;
        settings.sampleFrequency = 100000;
        settings.recordLength = kLength;
        settings.postSamples = kLength / 2;
        settings.measureMode = acq::kModeChop;
        settings.triggerSource = acq::kSourceChannel1;
        settings.triggerSlope = acq::kRising;
        settings.channel[0] = {4, 0, 0.5, acq::kAC};
        settings.channel[1] = {0.8, 0, 0.1, acq::kAC};

        sim::SimInstrument inst;
        inst.setRealTime(false);
        inst.InitInstrument(0);
        int32_t rate = 100000;
        inst.SetSampleFrequency(&rate);
        inst.SetRecordLength(kLength);
        inst.SetPostSamples(kLength / 2);
        raw1.assign(kRecords, std::vector<uint16_t>(kRawBufferSamples, 32768));
        raw2 = raw1;
        for (int r = 0; r < kRecords; ++r) {
            inst.StartMeasurement();
            inst.GetMeasurementRaw(raw1[r].data(), raw2[r].data());
            passes.push_back(std::make_unique<DisplayPass>(
                DisplayPassControls{chart, spektra1, spektra2, timeView, position, scale, ymax1,
                                    ymax2, ymin1, ymin2, sense1, sense2},
                raw1[r].data(), raw2[r].data(), kRawBufferSamples, [] { return kLength; },
                [settings] { return settings; },
                // The logging step's own work on the block, short of writing it.
                [](int16_t* block, int32_t frames, const Acquisition&) {
                    MaskLowBits(block, 2 * static_cast<std::size_t>(frames));
                    benchmark::DoNotOptimize(block);
                }));
            // The record came from the instrument: the readouts measure it.
            passes.back()->RecordFetched(settings);
        }
    }
};

void BM_Pass(benchmark::State& state, bool spectrum, bool readouts) {
    Window w(spectrum);
    w.chart.Readouts(readouts);
    int r = 0;
    for (auto _ : state) {
        w.passes[r]->DisplayPaint();
        const QImage picture = w.chart.picture();  // what the paint event composes
        benchmark::DoNotOptimize(picture.constBits());
        r = (r + 1) % kRecords;
    }
}

// The measurements alone, both channels of a 130000-frame record.
void BM_Measure(benchmark::State& state) {
    Window w(false);
    std::vector<int16_t> block(2 * static_cast<std::size_t>(kLength));
    InterleaveRaw(w.raw1[0].data(), w.raw2[0].data(), block.data(), kLength);
    measure::Measurer measurer;
    measure::ChannelMeasurement m[2];
    for (auto _ : state) {
        measurer.measure(block.data(), kLength, m);
        benchmark::DoNotOptimize(m);
    }
}

}  // namespace

void RegisterReadoutBenchmarks() {
    benchmark::RegisterBenchmark("pass/vt/130000/readouts", BM_Pass, false, true);
    benchmark::RegisterBenchmark("pass/vt/130000/plain", BM_Pass, false, false);
    benchmark::RegisterBenchmark("pass/vf/130000/readouts", BM_Pass, true, true);
    benchmark::RegisterBenchmark("pass/vf/130000/plain", BM_Pass, true, false);
    benchmark::RegisterBenchmark("measure/130000", BM_Measure);
}

}  // namespace rv8::bench
