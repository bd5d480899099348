// The chart's scale and readout texts, free of widgets: how long and how high a division is,
// the time and frequency labels of the graticule lines, and how measured values are written.
// Numbers use a point as the decimal separator and "-" for negative values, as the chart's
// captions are part of its picture and read the same everywhere.
#pragma once

#include <cstdint>

#include <QString>

#include "display/Measurements.h"

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
using measure::RawToVolts;

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
// A rise or fall time: "295 µs", three significant digits; shorter than one sample interval
// (which the record cannot tell apart): "< 10.0 µs". "--" when either is not positive.
QString EdgeTimeText(double seconds, double sampleInterval);
// A duty cycle of 0..1: "50.0 %". "--" when not finite.
QString DutyText(double duty);
// "100 kS/s", "28.57 kS/s".
QString SampleRateText(double hz);
// Every voltage the chart writes (measurements, spectrum peaks, the cursor, statistics) follows
// one rule: its digits come from the readout's resolution `step` (volts; for the measurements of
// a record one raw unit, sensitivity / 32768) and from the value. The last digit shown is the
// fourth significant digit of the value, but never one below the decade of the step: "3.040 V",
// "1.061 V", "0.0141 V" on the 4 V range (step 122 µV), "0.300 V", "0.106 V", "0.000 V" on the
// 80 V range (step 2.4 mV). A value that rounds to 0 is "0" with the step's decimals and no sign.
// Volts without prefix, then a blank and `unit` ("V", "Vpp"). Not finite: "--". Without a usable
// step (not positive, not finite): four significant digits.
QString VoltsText(double volts, double step, const QString& unit = QStringLiteral("V"));
// The step of a record's measurements on a channel of `sensitivity` volts full scale.
inline double RecordStep(double sensitivity) {
    return RawToVolts(1.0, sensitivity);
}

}  // namespace rv8::kurvo
