// The chart's scale and readout texts, free of widgets: how long and how high a division is,
// the time and frequency labels of the graticule lines, and how measured values are written.
// Numbers use a point as the decimal separator and "-" for negative values, as the chart's
// captions are part of its picture and read the same everywhere.
#pragma once

#include <cstdint>

#include <QString>

#include "core/ChartGeometry.h"

namespace rv8::kurvo {

// Divisions of the graticule (core/ChartGeometry.h).
using chart::kDivisionsX;
using chart::kDivisionsY;

// `value` with the SI prefix (n, µ, m, k, M, G) that puts the number at 1 or more and below
// 1000, rounded to `digits` significant digits (a value that rounds up to 1000 takes the next
// prefix), followed by a blank and `unit`. With `trim`, zeros at the end of the decimals (and
// the point left alone) go. Zero is "0" and the unit; not finite: "--".
QString Engineering(double value, const QString& unit, int digits, bool trim);

// Seconds per division for `frames` frames across the 10 divisions at `sampleFrequency`; NaN
// when either is not positive.
double SecondsPerDivision(double frames, double sampleFrequency);
// Volts per division for a vertical range ymin..ymax (raw units, ymax included, over the 8
// divisions) on a channel of `sensitivity` volts full scale (raw 32768 reads that many volts).
double VoltsPerDivision(int32_t ymin, int32_t ymax, double sensitivity);
// A raw value in volts on a channel of `sensitivity` volts full scale.
inline double RawToVolts(double raw, double sensitivity) {
    return raw * sensitivity / 32768.0;
}

// "102.4 µs/div", "1.536 ms/div": 4 significant digits, zeros at the end dropped.
QString TimePerDivisionText(double seconds);
// "1 V/div", "200 mV/div".
QString VoltsPerDivisionText(double volts);
// A time from the trigger point: "0", "+204.8 µs", "-1.024 ms"; 4 significant digits, zeros
// at the end dropped with `trim` (a graticule line's label) or kept ("+3.000 ms", the cursor).
QString TimeFromTriggerText(double seconds, bool trim = true);
// A graticule line's frequency in the spectrum view: "0", "25 kHz", "12.5 kHz".
QString FrequencyAxisText(double hz);
// A measured frequency, 4 significant digits kept: "1.000 kHz", "250.0 Hz"; "--" when NaN.
QString FrequencyText(double hz);
// A measured period: "1.000 ms"; "--" when NaN.
QString PeriodText(double seconds);
// "100 kS/s", "28.57 kS/s".
QString SampleRateText(double hz);
// A measured voltage on a channel of `fullScale` volts: three significant digits of the larger
// of |volts| and a quarter of the full scale, so that a channel's readings share their decimals
// and a small value near 0 does not show digits the channel cannot resolve ("0.002", "3.05",
// "-1.52", "0.600" on a 4 V and a 0.8 V channel). A value that rounds to 0 has no sign. Without the
// unit.
QString VoltsNumber(double volts, double fullScale);

}  // namespace rv8::kurvo
