// The chart's statistics mode, free of widgets: for each channel, over the acquisitions since the
// last reset, the count, smallest, mean, largest value and standard deviation of every readout
// of the measurement strip, and the lines of text that show them.
#pragma once

#include <array>
#include <cstddef>

#include <QStringList>

#include "display/Measurements.h"
#include "display/RecordReadings.h"

namespace rv8::kurvo {

// Count, extremes, mean and standard deviation of a series (display/RecordReadings.h).
using measure::Running;

// The readouts the statistics keep, in the order their lines are shown.
enum class Quantity { Frequency, Period, PeakToPeak, Rms, Mean, Min, Max, Duty, Rise, Fall };
constexpr std::size_t kQuantities = 10;

struct ChannelStatistics {
    int acquisitions = 0;  // measured acquisitions added
    std::array<Running, kQuantities> of{};
    const Running& operator[](Quantity q) const { return of[static_cast<std::size_t>(q)]; }
};

// Adds one acquisition's measurement of a channel of `sensitivity` volts at `sampleFrequency`:
// every readout the strip shows for it, in hertz, seconds, volts and 0..1 (rms and mean as the
// strip shows them: over the whole periods where there are some). Readouts the measurement does
// not have (no period, no edge) are left out of their series. A measurement of 0 frames, or
// without a usable sensitivity, adds nothing.
void AddMeasurement(ChannelStatistics& s, const measure::ChannelMeasurement& m,
                    double sampleFrequency, double sensitivity);

// The statistics as the strip shows them: a heading, then one line per readout that has values,
// "freq  min 999.9 Hz  mean 1.000 kHz  max 1.000 kHz  sd 52.10 mHz  n 25"; voltages with the
// digits of a record of `sensitivity` volts, edge times shorter than a sample at
// `sampleFrequency` as "< 10.0 µs" (display/KurvoText.h).
QStringList StatisticsLines(int channel, const ChannelStatistics& s, double sensitivity,
                            double sampleFrequency);

}  // namespace rv8::kurvo
