// Measurements of a record, free of widgets: each channel's extremes, mean, RMS, whether it
// reached the end of its range, and its period from level crossings (the largest line of a
// spectrum: display/SpectrumPeak.h). All in signed raw units (-32768..32767) and frames: the
// chart turns them into volts and seconds with the sensitivity and the sample frequency in
// force.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/Acquisition.h"

namespace rv8::measure {

// A raw value (-32768..32767) in volts on a channel of `sensitivity` volts full scale.
inline double RawToVolts(double raw, double sensitivity) {
    return raw * sensitivity / 32768.0;
}

// One channel of one record.
struct ChannelMeasurement {
    int32_t frames = 0;  // 0: nothing measured, the other fields mean nothing
    int16_t min = 0;
    int16_t max = 0;
    double mean = 0.0;       // of the whole record
    double rms = 0.0;        // of the whole record, its DC part included
    bool overRange = false;  // a sample at -32768 or 32767, the ends of the input range
    int periods = 0;         // whole periods between the first and the last rising crossing
    double period = std::numeric_limits<double>::quiet_NaN();  // frames per period; NaN: none
    // With a period: where the whole periods lie, from the first rising crossing to the last
    // (frames, between samples), and the mean and rms of the samples between them, which do not
    // depend on where in a period the record happens to start and end. NaN without a period.
    double firstRise = std::numeric_limits<double>::quiet_NaN();
    double lastRise = std::numeric_limits<double>::quiet_NaN();
    double cycleMean = std::numeric_limits<double>::quiet_NaN();
    double cycleRms = std::numeric_limits<double>::quiet_NaN();
    // With a period: the share of a period the signal spends at or above the middle level
    // (0..1, from up to the first 32 whole periods), and the mean time of up to 16 rising and
    // falling edges from kEdgeLow to
    // kEdgeHigh of the way from min to max (frames, between samples; NaN where no edge reached
    // both within its half period). NaN without a period.
    double duty = std::numeric_limits<double>::quiet_NaN();
    double riseTime = std::numeric_limits<double>::quiet_NaN();
    double fallTime = std::numeric_limits<double>::quiet_NaN();
    // On the trigger source's channel, from TriggerState: 1 the record crosses the trigger level
    // with the slope at the trigger point, -1 it does not (the instrument ran free), 0 not told.
    int triggered = 0;

    bool hasPeriod() const { return period == period; }
    int32_t peakToPeak() const { return int32_t{max} - min; }
};

// How the period is found. The signal must swing at least kMinSwing units from its smallest to
// its largest value. A rising crossing is a rise from at or below min + kLowFraction x swing to
// at or above min + kHighFraction x swing (the hysteresis keeps noise from counting); its time is
// where the signal last passed the middle level before, between two samples. The period is the
// time from the first to the last rising crossing divided by their number less one, given at
// least kMinPeriods whole periods (one is enough) whose lengths agree: periods that differ by more
// than half a mean period (plus two frames) are no period at all (noise, a signal without one
// shape).
constexpr int32_t kMinSwing = 32;
constexpr double kLowFraction = 0.35;
constexpr double kHighFraction = 0.65;
constexpr int kMinPeriods = 1;
// The rise and fall times run from 10 % to 90 % of the way from min to max.
constexpr double kEdgeLow = 0.1;
constexpr double kEdgeHigh = 0.9;

// Frames per block of the envelope the crossing search runs on (the smallest and largest value
// of each block): blocks that cannot hold the next crossing are skipped whole.
constexpr int kBlockFrames = 32;

// Measures both channels of `frames` interleaved frames (channel 1 first) in one linear pass,
// then looks for the crossings on the envelope that pass leaves. Keeps its envelope from one
// record to the next, so a measurement allocates nothing once the records stop growing.
class Measurer {
  public:
    void measure(const int16_t* interleaved, int32_t frames, ChannelMeasurement out[2]);

  private:
    std::vector<int16_t> envelope_;  // per block: min 1, max 1, min 2, max 2
    std::vector<int16_t> scratch_;   // the envelope of a part of the record, not kept
};

// One channel of `frames` values read at values[i * stride]: the same measurement, without the
// vector loop (for any stride).
ChannelMeasurement MeasureChannel(const int16_t* values, std::ptrdiff_t stride, int32_t frames);

// Whether the signal read at values[i * stride] (i < frames) crosses `level` (raw units) in the
// direction given within two frames of frame `at` (the trigger point): a sample below the level
// followed by one at or above it (rising), or above and then at or below it (falling), to
// within one raw unit (the instrument compares before it rounds).
bool CrossesLevel(const int16_t* values, std::ptrdiff_t stride, int32_t frames, int32_t at,
                  double level, bool rising);

// Whether the record of `frames` interleaved frames crosses the acquisition's trigger level with
// its slope at its trigger point (frame record length - post-trigger samples), on the trigger
// source's channel: 1 yes, -1 no, 0 when the acquisition does not tell (no trigger source, a
// setting unknown, a trigger point outside the record). Looks at the whole record, so a trigger
// point at the edge of the part in view is judged as well as any other.
int TriggerState(const int16_t* interleaved, int32_t frames, const Acquisition& acquisition);

// Whether any of `frames` interleaved frames has channel 1 (out[0]) or channel 2 (out[1]) at
// -32768 or 32767, the ends of the input range.
void OverRange(const int16_t* interleaved, int32_t frames, bool out[2]);

}  // namespace rv8::measure
