// A record's measurements in volts, seconds and hertz, free of Qt Gui: what the chart's
// measurement strip writes (display/KurvoReadouts.cpp formats these numbers), what the viewer
// shows for a record and what `rv8rec measure` prints, from one piece of code.
#pragma once

#include <array>
#include <cstdint>
#include <limits>

#include "core/Acquisition.h"
#include "display/Measurements.h"
#include "logging/RecordingFile.h"

namespace rv8::measure {

// One channel's readings. NaN where there is none: no period (frequency, period, duty cycle,
// rise and fall times), an edge that never reached both thresholds, or no usable sensitivity
// (the voltages).
struct ChannelReadings {
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    bool measured = false;     // false: the channel holds no measurement, every reading is NaN
    double frequency = kNaN;   // Hz
    double period = kNaN;      // s
    double peakToPeak = kNaN;  // V
    double min = kNaN;
    double max = kNaN;
    // Over whole periods when the channel has a period (cycles true), over the record otherwise.
    double mean = kNaN;
    double rms = kNaN;  // the DC part included
    bool cycles = false;
    double duty = kNaN;  // 0..1
    double rise = kNaN;  // s, 10 % to 90 %
    double fall = kNaN;
    bool overRange = false;  // a sample at either end of the input range
};

// The readings of measurement `m` taken at `sampleFrequency` on a channel of `sensitivity`
// volts full scale. A measurement of no frames gives measured false.
ChannelReadings Readings(const ChannelMeasurement& m, double sampleFrequency, double sensitivity);

// Count, extremes, mean and standard deviation of a series of values, kept as they come
// (Welford's running sums: no values stored, no loss of precision on long series).
struct Running {
    int count = 0;
    double min = 0.0, max = 0.0, mean = 0.0;
    double m2 = 0.0;  // sum of squared deviations from the mean

    void add(double x);
    // The population standard deviation of the values so far; 0 for fewer than two.
    double deviation() const;
};

// The settings a record's samples were taken with, completed as the viewer and the tools show
// them: the record's own rate and time, its frame count where the record length is unknown, and
// each channel's sensitivity from the file header's range (half its span) where the record does
// not give it (a version 1 file).
Acquisition SettingsOf(const RecordingRecord& record, const RecordingHeader& header);

// Measures a record as the chart does (the two channels of the scope's recordings through
// Measurer, other channel counts one channel at a time) and turns the measurements into
// readings with SettingsOf's rate and sensitivities. Channels the record's measure mode left
// out have measured false. Keeps the measurer's buffers from one record to the next.
class RecordMeter {
  public:
    // Readings of channels 0..count-1 into out[0..count-1].
    void measure(const RecordingRecord& record, const RecordingHeader& header, ChannelReadings* out,
                 std::size_t count);

  private:
    Measurer measurer_;
};

}  // namespace rv8::measure
