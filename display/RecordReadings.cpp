#include "display/RecordReadings.h"

#include <algorithm>
#include <cmath>

namespace rv8::measure {

namespace {

bool Positive(double v) {
    return v > 0.0 && std::isfinite(v);
}

}  // namespace

void Running::add(double x) {
    if (!std::isfinite(x)) return;
    ++count;
    if (count == 1) {
        min = max = mean = x;
        m2 = 0.0;
        return;
    }
    min = std::min(min, x);
    max = std::max(max, x);
    const double delta = x - mean;
    mean += delta / count;
    m2 += delta * (x - mean);
}

double Running::deviation() const {
    return count > 1 ? std::sqrt(std::max(0.0, m2) / count) : 0.0;
}

ChannelReadings Readings(const ChannelMeasurement& m, double sampleFrequency, double sensitivity) {
    ChannelReadings r;
    if (m.frames <= 0) return r;
    r.measured = true;
    r.overRange = m.overRange;
    const double fs = sampleFrequency;
    if (Positive(fs) && m.hasPeriod() && m.period > 0) {
        r.period = m.period / fs;
        r.frequency = 1.0 / r.period;
        r.duty = m.duty;
        r.rise = m.riseTime / fs;
        r.fall = m.fallTime / fs;
    }
    if (!Positive(sensitivity)) return r;
    const auto volts = [&](double raw) { return RawToVolts(raw, sensitivity); };
    r.peakToPeak = volts(m.peakToPeak());
    r.min = volts(m.min);
    r.max = volts(m.max);
    // Over whole periods where there are some, so that they do not depend on where the record
    // starts and ends within a period.
    r.cycles = m.hasPeriod() && std::isfinite(m.cycleMean);
    r.mean = volts(r.cycles ? m.cycleMean : m.mean);
    r.rms = volts(r.cycles ? m.cycleRms : m.rms);
    return r;
}

Acquisition SettingsOf(const RecordingRecord& record, const RecordingHeader& header) {
    Acquisition a = record.hasSettings ? record.acquisition : Acquisition{};
    a.sampleFrequency = record.sampleRate;
    a.endTimeUs = record.timeUs;
    if (a.recordLength < 0) a.recordLength = static_cast<int32_t>(record.frames);
    for (std::size_t c = 0; c < a.channel.size(); ++c) {
        // A channel's range from the file header where the record does not give it: the
        // sensitivity is the voltage at full scale, half the span of the range.
        if (std::isfinite(a.channel[c].sensitivity) || c >= header.ranges.size()) continue;
        const double span = header.ranges[c].upper - header.ranges[c].lower;
        if (span > 0 && std::isfinite(span)) a.channel[c].sensitivity = span / 2;
    }
    return a;
}

void RecordMeter::measure(const RecordingRecord& record, const RecordingHeader& header,
                          ChannelReadings* out, std::size_t count) {
    const std::size_t channels = header.channelCount;
    const Acquisition a = SettingsOf(record, header);
    const auto frames = static_cast<int32_t>(
        std::min<uint64_t>(record.frames, channels == 0 ? 0 : record.samples.size() / channels));
    ChannelMeasurement two[2];
    if (channels == 2) measurer_.measure(record.samples.data(), frames, two);
    for (std::size_t c = 0; c < count; ++c) {
        out[c] = {};
        if (c >= channels) continue;
        const bool scopeChannel = c < a.channel.size();
        if (scopeChannel && !a.measured(static_cast<int>(c))) continue;
        const ChannelMeasurement m =
            channels == 2 ? two[c]
                          : MeasureChannel(record.samples.data() + c,
                                           static_cast<std::ptrdiff_t>(channels), frames);
        double sensitivity = scopeChannel ? a.channel[c].sensitivity : ChannelReadings::kNaN;
        if (!scopeChannel && c < header.ranges.size()) {
            const double span = header.ranges[c].upper - header.ranges[c].lower;
            if (span > 0 && std::isfinite(span)) sensitivity = span / 2;
        }
        out[c] = Readings(m, a.sampleFrequency, sensitivity);
    }
}

}  // namespace rv8::measure
