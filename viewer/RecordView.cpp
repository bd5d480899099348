#include "viewer/RecordView.h"

#include <algorithm>
#include <cmath>

#include "core/ChartGeometry.h"
#include "core/Numbers.h"

namespace rv8::viewer {

int64_t SpectrumStartOf(int64_t start, int64_t count, int64_t frames) {
    int64_t at = start + (count <= Spektra::kInputs ? 0 : RoundToI32(count / 2.0));
    // Inside the record where it holds 1024 frames; a window near the end takes the last ones.
    if (at + Spektra::kInputs > frames) at = frames - Spektra::kInputs;
    return std::max<int64_t>(at, 0);
}

RecordView::RecordView(Kurvo& chart) : chart_(chart) {
    chart_.TraceColor(0, kChannel1Colour);
    chart_.TraceColor(1, kChannel2Colour);
    chart_.BothChannels(true);
    // A channel without a measurement is not drawn as 0 V, only named.
    chart_.HideUnmeasured(true);
}

void RecordView::setRecord(const RecordingRecord* record, const RecordingHeader& header) {
    record_ = record;
    header_ = header;
    measuredValid_ = false;
    if (record_ == nullptr) return;
    const std::size_t channels = header.channelCount;
    const std::size_t frames = record_->frames;
    if (channels == 2) {
        facts_.samples = record_->samples.data();
    } else {
        // Two channels of a file of one or more: the first two, a missing second one silent.
        twoChannels_.assign(2 * frames, 0);
        for (std::size_t i = 0; i < frames; ++i) {
            twoChannels_[2 * i] = record_->samples[i * channels];
            if (channels > 1) twoChannels_[2 * i + 1] = record_->samples[i * channels + 1];
        }
        facts_.samples = twoChannels_.data();
    }
    facts_.frames = static_cast<int64_t>(frames);
    facts_.settings = SettingsOf(*record_, header);
    for (int c = 0; c < 2; ++c)
        facts_.measured[c] = facts_.settings.measured(c) && c < header.channelCount;
    const Acquisition& a = facts_.settings;
    facts_.triggerFrame = a.postSamples >= 0 && a.postSamples <= a.recordLength
                              ? static_cast<double>(a.recordLength) - a.postSamples
                              : Acquisition::kNaN;
}

void RecordView::setMode(Mode mode) {
    if (mode == mode_) return;
    // Each view keeps its own vertical ranges, as the scope's V-T / V-F switch does.
    const std::array<int32_t, 2> mins{chart_.YMin(0), chart_.YMin(1)};
    const std::array<int32_t, 2> maxs{chart_.YMax(0), chart_.YMax(1)};
    for (int16_t c = 0; c < 2; ++c) {
        chart_.YMin(c, otherMin_[c]);
        chart_.YMax(c, otherMax_[c]);
    }
    otherMin_ = mins;
    otherMax_ = maxs;
    mode_ = mode;
}

void RecordView::setMeasureWindow(bool window) {
    measureWindow_ = window;
    measuredValid_ = false;
}

void RecordView::setShown(bool channel1, bool channel2) {
    if (!channel1 && !channel2) channel1 = true;
    shown_ = {channel1, channel2};
    chart_.BothChannels(channel1 && channel2);
    if (!(channel1 && channel2)) chart_.ShownChannel(channel1 ? 0 : 1);
}

void RecordView::defaultRanges() {
    const bool spectrum = mode_ == Mode::Spectrum;
    for (int16_t c = 0; c < 2; ++c) {
        chart_.YMin(c, spectrum ? 0 : -32768);
        chart_.YMax(c, spectrum ? 32768 : 32767);
    }
}

void RecordView::feedSettings() {
    // As the scope's display pass hands them over (DisplayPass::ReadoutSettings).
    chart_.AcquisitionSettings(facts_.settings);
}

void RecordView::measure() {
    const TimeWindow whole{0, facts_.frames};
    const TimeWindow over = measureWindow_ ? facts_.window : whole;
    if (!measuredValid_ || measuredRecord_ != record_ || !(measuredWindow_ == over)) {
        measure::ChannelMeasurement m[2];
        measurer_.measure(facts_.samples + 2 * over.start, static_cast<int32_t>(over.count), m);
        // Whether the instrument triggered is the whole record's to tell, whatever is measured.
        if (const int c = facts_.settings.triggerChannel(); c >= 0) {
            m[c].triggered = measure::TriggerState(
                facts_.samples, static_cast<int32_t>(facts_.frames), facts_.settings);
        }
        measured_ = {m[0], m[1]};
        measuredRecord_ = record_;
        measuredWindow_ = over;
        measuredValid_ = true;
    }
    // A channel the measure mode left out is the chart's to leave out (AcquisitionSettings).
    chart_.Measurements(measured_[0], measured_[1]);
}

void RecordView::plotTime() {
    const TimeWindow& w = facts_.window;
    chart_.WindowStart(static_cast<int32_t>(w.start));
    chart_.HorizontalScale(static_cast<int16_t>(
        std::clamp<int64_t>(w.count / chart::kFramesPerScaleStep, 1, chart::kMaxScaleSteps)));
    chart_.PlotFrames(facts_.samples + 2 * w.start, static_cast<int32_t>(w.count));
}

void RecordView::plotSpectrum() {
    // As the scope's spectrum branch (DisplayPass::SpectrumView), on the visible window.
    const int64_t start = SpectrumStartOf(facts_.window.start, facts_.window.count, facts_.frames);
    facts_.spectrumStart = start;
    const int16_t zero = 0;
    for (int i = 0; i < Spektra::kInputs; ++i) {
        const int64_t at = start + i;
        const bool inside = at < facts_.frames;
        for (int c = 0; c < 2; ++c)
            spektra_[c].SetInput(static_cast<int16_t>(i),
                                 inside ? facts_.samples[2 * at + c] : zero);
    }
    facts_.bins.assign(2 * Spektra::kBins, 0);
    for (int c = 0; c < 2; ++c) {
        spektra_[c].Transform(Spektra::kInputs);
        for (int k = 0; k < Spektra::kBins; ++k)
            facts_.bins[2 * k + c] = RoundToI16(spektra_[c].BinValue(static_cast<int16_t>(k)));
    }
    // The peaks are found on the transforms' own amplitudes, as the scope hands them over.
    for (int16_t c = 0; c < 2; ++c)
        chart_.SpectrumAmplitudes(c, spektra_[c].amplitudes());
    chart_.PlotArray(facts_.bins);
}

void RecordView::refresh() {
    if (record_ == nullptr || facts_.frames < 1) return;
    facts_.spectrum = mode_ == Mode::Spectrum;
    facts_.shown = shown_;
    facts_.window = axis_.window(facts_.frames);
    if (chart_.readoutsShown()) {
        feedSettings();
        measure();
    }
    if (facts_.spectrum) {
        plotSpectrum();
    } else {
        plotTime();
    }
}

}  // namespace rv8::viewer
