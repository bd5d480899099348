// Kurvo's caption layer: the settings its readouts need, and the last step of composing a
// picture, which writes the readouts (or, with them off, the scale caption) over the traces.
#include <QPainter>

#include <cmath>
#include <limits>

#include "core/ChartGeometry.h"
#include "display/Kurvo.h"
#include "display/KurvoImage.h"

namespace rv8 {

namespace {

constexpr QRgb kCaption = 0xFF8C8C8Cu;

double Valid(double v) {
    return v > 0.0 && std::isfinite(v) ? v : std::numeric_limits<double>::quiet_NaN();
}

bool ValidChannel(int16_t channel) {
    return channel == 0 || channel == 1;
}

}  // namespace

void Kurvo::SampleFrequency(double hz) {
    setReadoutValue(sampleFrequency_, hz);
}

void Kurvo::Sensitivity(int16_t channel, double volts) {
    if (ValidChannel(channel)) setReadoutValue(sensitivity_[channel], volts);
}

void Kurvo::RecordLength(int32_t frames) {
    setReadoutValue(recordLength_, frames);
}

void Kurvo::PostSamples(int32_t frames) {
    setReadoutValue(postSamples_, frames);
}

void Kurvo::WindowStart(int32_t frame) {
    setReadoutValue(windowStart_, frame);
}

void Kurvo::TriggerSource(int16_t source) {
    setReadoutValue(triggerSource_, source);
}

void Kurvo::TriggerLevel(int16_t channel, double volts) {
    if (ValidChannel(channel)) setReadoutValue(triggerLevel_[channel], volts);
}

void Kurvo::Measurements(const measure::ChannelMeasurement& channel1,
                         const measure::ChannelMeasurement& channel2) {
    measured_ = {channel1, channel2};
    // Into the statistics once per acquisition: a redraw of the one last added adds nothing.
    if (acquisitionNumber_ == 0 || acquisitionNumber_ != countedNumber_) {
        for (int c = 0; c < 2; ++c) {
            if (channelMeasured_[c])
                kurvo::AddMeasurement(statistics_[c], measured_[c], sampleFrequency_,
                                      sensitivity_[c]);
        }
        countedNumber_ = acquisitionNumber_;
    }
    invalidate();
}

void Kurvo::AcquisitionSettings(const rv8::Acquisition& a) {
    if (std::isfinite(a.sampleFrequency)) SampleFrequency(a.sampleFrequency);
    if (a.recordLength >= 0) RecordLength(a.recordLength);
    if (a.postSamples >= 0) PostSamples(a.postSamples);
    if (a.triggerSource != acq::kUnknown) TriggerSource(static_cast<int16_t>(a.triggerChannel()));
    for (int16_t c = 0; c < 2; ++c) {
        const AcquisitionChannel& ch = a.channel[c];
        if (std::isfinite(ch.sensitivity)) Sensitivity(c, ch.sensitivity);
        if (std::isfinite(ch.triggerLevel)) TriggerLevel(c, ch.triggerLevel);
        setReadoutValue(hysteresis_[c], ch.triggerHysteresis);
        setReadoutValue(channelMeasured_[c], a.measured(c));
    }
    setReadoutValue(triggerSlope_, a.triggerSlope);
    acquisitionNumber_ = a.number;
}

void Kurvo::ResetStatistics() {
    statistics_ = {};
    countedNumber_ = 0;
    invalidate();
}

void Kurvo::StatisticsShown(bool shown) {
    setReadoutValue(statisticsShown_, shown);
}

void Kurvo::Readouts(bool shown) {
    setReadoutValue(readoutsOn_, shown);
}

const kurvo::Readouts& Kurvo::readouts() {
    compose();
    return readouts_;
}

kurvo::ReadoutInputs Kurvo::readoutInputs(const QSize& size) {
    kurvo::ReadoutInputs in;
    in.spectrum = lastKind_ == PlotKind::Array;
    in.shown = {channelShown(0), channelShown(1)};
    in.width = size.width();
    in.height = size.height();
    in.points = lastKind_ == PlotKind::None ? 0 : lastPlotPoints();
    in.sampleFrequency = Valid(sampleFrequency_);
    in.sensitivity = {Valid(sensitivity_[0]), Valid(sensitivity_[1])};
    in.ymin = ymin_;
    in.ymax = ymax_;
    in.recordLength = recordLength_;
    in.postSamples = postSamples_;
    in.windowStart = windowStart_;
    in.triggerSource = triggerSource_;
    in.triggerLevel = triggerLevel_;
    in.measured = measured_;
    in.triggerSlope = triggerSlope_;
    in.triggerHysteresis = hysteresis_;
    in.channelMeasured = channelMeasured_;
    in.statisticsShown = statisticsShown_;
    if (statisticsShown_) in.statistics = statistics_;
    if (!in.spectrum) in.triggerState = triggerState(in);
    if (in.spectrum) {
        if (peaksStale_) {
            for (int c = 0; c < 2; ++c) {
                peaks_[c] = amplitudes_[c].empty()
                                ? measure::FindSpectrumPeak(lastValues_.data() + c, 2, in.points)
                                : measure::FindSpectrumPeak(amplitudes_[c]);
            }
            peaksStale_ = false;
        }
        in.peaks = peaks_;
    }
    const double r = pixelRatio();
    in.cursor = hovering_;
    in.cursorX = cursor_.x() * r;
    in.cursorY = cursor_.y() * r;
    return in;
}

int Kurvo::triggerState(const kurvo::ReadoutInputs& in) const {
    const int c = in.triggerSource;
    if ((c != 0 && c != 1) || (triggerSlope_ != acq::kRising && triggerSlope_ != acq::kFalling))
        return 0;
    // Judged on the whole record where the measurement did (measure::TriggerState); else on the
    // part in view.
    if (measured_[c].frames > 0 && measured_[c].triggered != 0) return measured_[c].triggered;
    // Samples that are no acquisition (the window's zeroed buffers before the first one) have
    // no trigger status to tell.
    if (acquisitionNumber_ == 0) return 0;
    const double s = in.sensitivity[c];
    if (!(s > 0.0) || !std::isfinite(in.triggerLevel[c])) return 0;
    // The trigger point's frame within the plot: only where the plot shows it.
    const int64_t at = int64_t{recordLength_} - postSamples_ - windowStart_;
    if (postSamples_ < 0 || postSamples_ > recordLength_ || at < 0 || at >= in.points) return 0;
    const bool crosses =
        measure::CrossesLevel(lastValues_.data() + c, 2, in.points, static_cast<int32_t>(at),
                              in.triggerLevel[c] / s * 32768.0, triggerSlope_ == acq::kRising);
    return crosses ? 1 : -1;
}

void Kurvo::buildCaption(int width) {
    const int w = width - 8;
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
               QStringLiteral("%1 x %2 frames").arg(chart::kFramesPerScaleStep).arg(hscale_));
    captionScale_ = hscale_;
}

void Kurvo::composeCaptions(const kurvo::Surface& frame) {
    if (readoutsOn_) {
        const kurvo::ReadoutInputs in = readoutInputs(QSize(frame.width, frame.height));
        readouts_ = kurvo::ComputeReadouts(in);
        const std::array<uint32_t, 2> text{kurvo::LegibleColor(colors_[0].rgb()),
                                           kurvo::LegibleColor(colors_[1].rgb())};
        overlay_.draw(frame, readouts_, in, text, pixelRatio());
        return;
    }
    readouts_ = kurvo::Readouts{};
    // Without readouts: the scale caption at the foot of the time view, over the traces.
    const int h = frame.height;
    if (lastKind_ == PlotKind::Array || h <= 20) return;
    if (captionScale_ != hscale_ || captionWidth_ != frame.width) {
        buildCaption(frame.width);
        captionWidth_ = frame.width;
    }
    if (caption_.isNull()) return;
    const kurvo::ConstSurface caption = kurvo::ConstSurfaceOf(caption_);
    kurvo::BlendOver(frame, 4, h - 16,
                     kurvo::ConstSurface(caption.bits, std::min(caption.width, frame.width - 4),
                                         caption.height, caption.stride));
}

}  // namespace rv8
