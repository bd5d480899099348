// One acquisition's settings and time: what the instrument was set to when it took the samples
// in the raw buffers, and when the measurement ended. The window captures it once per
// acquisition; every display pass of those samples (the first one and any redraw) hands the same
// value to the chart's readouts and to the recording, so a record and its readouts always
// describe the samples they go with. Recordings store it per record (format version 2); readers
// of older files get the fields as unknown.
//
// Plain data, no Qt: the window, the chart, the recording file, the tools and the viewer share it.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

namespace rv8 {

// Codes as the instrument's driver takes them; kUnknown where a value was never known (a
// recording of an older format, or a setting the window had not made yet).
namespace acq {
constexpr int8_t kUnknown = -1;
// Coupling.
constexpr int8_t kAC = 0;
constexpr int8_t kDC = 1;
// Measure mode.
constexpr int8_t kModeChannel1 = 1;
constexpr int8_t kModeChannel2 = 2;
constexpr int8_t kModeChop = 3;
// Trigger source.
constexpr int8_t kSourceChannel1 = 0;
constexpr int8_t kSourceChannel2 = 1;
constexpr int8_t kSourceNone = 5;
// Trigger slope.
constexpr int8_t kRising = 0;
constexpr int8_t kFalling = 1;
}  // namespace acq

struct AcquisitionChannel {
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    double sensitivity = kNaN;        // full-scale range in volts: raw 32768 stands for this much
    double triggerLevel = kNaN;       // volts
    double triggerHysteresis = kNaN;  // volts
    int8_t coupling = acq::kUnknown;  // acq::kAC or acq::kDC
};

struct Acquisition {
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    // Counts the acquisitions since the window opened, from 1; a redraw repeats the number of
    // the acquisition it redraws. 0: the samples are not an acquisition (the zeroed buffers
    // before the first one) or the number is unknown.
    uint32_t number = 0;
    // When the measurement ended (the driver returned its samples), microseconds since
    // 1970-01-01 00:00 UTC; 0 when unknown.
    int64_t endTimeUs = 0;
    double sampleFrequency = kNaN;  // samples per second per channel
    int32_t recordLength = -1;      // frames per channel the instrument was set to take
    int32_t postSamples = -1;       // of them, after the trigger point
    int8_t measureMode = acq::kUnknown;
    int8_t triggerSource = acq::kUnknown;
    int8_t triggerSlope = acq::kUnknown;
    std::array<AcquisitionChannel, 2> channel{};

    // Whether channel index c (0 or 1) was measured: the measure mode leaves one channel out
    // ("channel 1" or "channel 2"); an unknown mode counts as both measured.
    bool measured(int c) const {
        if (measureMode == acq::kModeChannel1) return c == 0;
        if (measureMode == acq::kModeChannel2) return c == 1;
        return true;
    }
    // The channel index (0, 1) the trigger watched, or -1 for none or unknown.
    int triggerChannel() const {
        if (triggerSource == acq::kSourceChannel1) return 0;
        if (triggerSource == acq::kSourceChannel2) return 1;
        return -1;
    }
    bool operator==(const Acquisition& o) const;
};

// Field by field, NaN equal to NaN (so an unknown value equals an unknown value).
inline bool SameValue(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

inline bool operator==(const AcquisitionChannel& a, const AcquisitionChannel& b) {
    return SameValue(a.sensitivity, b.sensitivity) && SameValue(a.triggerLevel, b.triggerLevel) &&
           SameValue(a.triggerHysteresis, b.triggerHysteresis) && a.coupling == b.coupling;
}

inline bool Acquisition::operator==(const Acquisition& o) const {
    return number == o.number && endTimeUs == o.endTimeUs &&
           SameValue(sampleFrequency, o.sampleFrequency) && recordLength == o.recordLength &&
           postSamples == o.postSamples && measureMode == o.measureMode &&
           triggerSource == o.triggerSource && triggerSlope == o.triggerSlope &&
           channel == o.channel;
}

}  // namespace rv8
