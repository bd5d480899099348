#include "display/DisplayPass.h"

#include <algorithm>
#include <cmath>

#include "core/ChartGeometry.h"
#include "core/Numbers.h"
#include "core/Samples.h"

namespace rv8 {

DisplayPass::DisplayPass(DisplayPassControls controls, const uint16_t* Ch1Raw,
                         const uint16_t* Ch2Raw, int32_t rawCapacity,
                         std::function<int32_t()> recordLength,
                         std::function<Acquisition()> settingsInForce, LoggingStep loggingStep)
    : c_(controls),
      ch1_(Ch1Raw),
      ch2_(Ch2Raw),
      capacity_(rawCapacity),
      recordLength_(std::move(recordLength)),
      settingsInForce_(std::move(settingsInForce)),
      loggingStep_(std::move(loggingStep)) {}

DisplayPass::Window DisplayPass::TimeWindow(int32_t recordLength, int position, int positionMax,
                                            int scale) {
    // Formed in double precision: 16384 x 131072 does not fit 32 bits.
    int64_t start = 0;
    if (positionMax != 0) {
        start = static_cast<int64_t>(
            std::floor(static_cast<double>(position) * recordLength / positionMax));
    }
    int64_t frames = chart::kFramesPerScaleStep * static_cast<int64_t>(scale);
    if (start + frames > recordLength) start = recordLength - frames;
    // A window wider than the record starts at 0 and shows the frames that exist.
    if (start < 0) start = 0;
    if (frames > recordLength - start) frames = recordLength - start;
    if (frames < 0) frames = 0;
    return {static_cast<int32_t>(start), static_cast<int32_t>(frames)};
}

int32_t DisplayPass::SpectrumStart(int32_t recordLength) {
    if (recordLength <= 1024) return 0;
    return RoundToI32(recordLength / 2.0);
}

void DisplayPass::DisplayPaint() {
    const int32_t reported = recordLength_();
    if (reported < 2) return;
    // Never read past the raw buffers, whatever the instrument reports.
    const int32_t frames = std::min(reported, capacity_);
    SampleBlock_.resize(2 * static_cast<std::size_t>(frames));
    InterleaveRaw(ch1_, ch2_, SampleBlock_.data(), static_cast<std::size_t>(frames));
    // Until the first acquisition the passes show the zeroed buffers under the settings in
    // force (read once per pass); afterwards always the acquisition's own settings.
    const Acquisition shown =
        recordFetched_ || !settingsInForce_ ? acquisition_ : settingsInForce_();
    ReadoutSettings(shown);
    MeasureBlock(frames, shown);
    if (c_.Option1.isChecked()) {
        TimeView(frames);
    } else {
        SpectrumView(frames);
    }
    loggingStep_(SampleBlock_.data(), frames, shown);
}

void DisplayPass::ReadoutSettings(const Acquisition& a) {
    Kurvo& k = c_.Kurvo1;
    if (!k.readoutsShown()) return;
    k.AcquisitionSettings(a);
}

void DisplayPass::MeasureBlock(int32_t frames, const Acquisition& a) {
    if (!c_.Kurvo1.readoutsShown() || !recordFetched_) return;
    measure::ChannelMeasurement m[2];
    measurer_.measure(SampleBlock_.data(), frames, m);
    if (const int c = a.triggerChannel(); c >= 0) {
        m[c].triggered = measure::TriggerState(SampleBlock_.data(), frames, a);
    }
    c_.Kurvo1.Measurements(m[0], m[1]);
}

void DisplayPass::TimeView(int32_t frames) {
    const int16_t scale = static_cast<int16_t>(c_.HScroll3.value());
    const Window w = TimeWindow(frames, c_.HScroll2.value(), c_.HScroll2.maximum(), scale);
    c_.Kurvo1.WindowStart(w.start);
    c_.Kurvo1.HorizontalScale(scale);
    if (w.frames <= 0) return;
    c_.Kurvo1.PlotBuffer(SampleBlock_[2 * static_cast<std::size_t>(w.start)], 2,
                         static_cast<int16_t>(std::min(w.frames, 32767)));
}

void DisplayPass::SpectrumView(int32_t frames) {
    SpectrumBuffer_.assign(2 * Spektra::kBins, 0);
    const int32_t start = SpectrumStart(frames);
    const int16_t zero = 0;
    for (int i = 0; i < Spektra::kInputs; ++i) {
        const int64_t at = static_cast<int64_t>(start) + i;
        // Inputs beyond a short record are silence, never reads outside the block.
        const bool inside = at < frames;
        const int16_t& s1 = inside ? SampleBlock_[2 * at] : zero;
        const int16_t& s2 = inside ? SampleBlock_[2 * at + 1] : zero;
        c_.Spektra1.SetInput(static_cast<int16_t>(i), s1);
        c_.Spektra2.SetInput(static_cast<int16_t>(i), s2);
    }
    c_.Spektra1.Transform(Spektra::kInputs);
    c_.Spektra2.Transform(Spektra::kInputs);
    for (int k = 0; k < Spektra::kBins; ++k) {
        SpectrumBuffer_[2 * k] = RoundToI16(c_.Spektra1.BinValue(static_cast<int16_t>(k)));
        SpectrumBuffer_[2 * k + 1] = RoundToI16(c_.Spektra2.BinValue(static_cast<int16_t>(k)));
    }
    // The peaks are found on the transforms' own amplitudes, not on the rounded bins.
    c_.Kurvo1.SpectrumAmplitudes(0, c_.Spektra1.amplitudes());
    c_.Kurvo1.SpectrumAmplitudes(1, c_.Spektra2.amplitudes());
    c_.Kurvo1.PlotArray(SpectrumBuffer_);
}

void DisplayPass::Kurvo1_RangeChanged(int32_t, int32_t) {
    // The upper end gets 1 added so that full scale reads exactly +/- the sensitivity; 64-bit
    // so that a range at the top of the 32-bit scale cannot overflow.
    auto top = [](int32_t y, double s) {
        return FormatVolts(static_cast<double>(static_cast<int64_t>(y) + 1) * s / 32768.0);
    };
    auto bottom = [](int32_t y, double s) { return FormatVolts(y * s / 32768.0); };
    c_.Ymax1.setText(top(c_.Kurvo1.YMax(0), TextToNumber(c_.SetSenseCh1TextBox.text())));
    c_.Ymax2.setText(top(c_.Kurvo1.YMax(1), TextToNumber(c_.SetSenseCh2TextBox.text())));
    c_.Ymin1.setText(bottom(c_.Kurvo1.YMin(0), TextToNumber(c_.SetSenseCh1TextBox.text())));
    c_.Ymin2.setText(bottom(c_.Kurvo1.YMin(1), TextToNumber(c_.SetSenseCh2TextBox.text())));
    DisplayPaint();
}

void DisplayPass::Command4_Click() {
    c_.Kurvo1.CopyToClipboard();
}

}  // namespace rv8
