// What the chart writes over its traces, free of widgets: the scale of the divisions, the time
// or frequency of the graticule lines, where the trigger point and the trigger level lie, the
// measurements of each shown channel, over-range notes, spectrum peaks and the cursor readout.
// ComputeReadouts makes the texts and positions from the chart's state; KurvoOverlay draws them.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include <QString>
#include <QStringList>

#include "display/KurvoStatistics.h"
#include "display/Measurements.h"
#include "display/SpectrumPeak.h"

namespace rv8::kurvo {

// The chart's state the readouts are made from. Positions are in the picture's pixels.
struct ReadoutInputs {
    bool spectrum = false;  // the last plot was a spectrum (PlotArray)
    std::array<bool, 2> shown{true, false};
    int width = 0;  // picture size in pixels
    int height = 0;
    int points = 0;  // points per channel of the last plot
    double sampleFrequency = std::numeric_limits<double>::quiet_NaN();  // per channel
    std::array<double, 2> sensitivity{std::numeric_limits<double>::quiet_NaN(),
                                      std::numeric_limits<double>::quiet_NaN()};
    std::array<int32_t, 2> ymin{-32768, -32768};
    std::array<int32_t, 2> ymax{32767, 32767};
    int32_t recordLength = 0;
    int32_t postSamples = 0;
    int32_t windowStart = 0;                       // record frame of the time view's first point
    int triggerSource = -1;                        // 0 channel 1, 1 channel 2, otherwise none
    std::array<double, 2> triggerLevel{0.0, 0.0};  // volts
    // Measurements of the whole record; frames 0 where there are none.
    std::array<measure::ChannelMeasurement, 2> measured{};
    // Spectrum view: each channel's largest peak.
    std::array<measure::SpectrumPeak, 2> peaks{};
    // The acquisition's trigger slope (0 rising, 1 falling, otherwise unknown) and hysteresis
    // (volts; NaN unknown), and whether each channel was measured at all.
    int triggerSlope = -1;
    std::array<double, 2> triggerHysteresis{std::numeric_limits<double>::quiet_NaN(),
                                            std::numeric_limits<double>::quiet_NaN()};
    std::array<bool, 2> channelMeasured{true, true};
    // Time view: 1 the record crosses the trigger level with the slope at the trigger point, -1
    // it does not (the instrument ran free), 0 unknown.
    int triggerState = 0;
    // The statistics mode: shown or not, and each channel's statistics.
    bool statisticsShown = false;
    std::array<ChannelStatistics, 2> statistics{};
    bool cursor = false;  // the mouse is over the chart, at (cursorX, cursorY)
    double cursorX = 0.0;
    double cursorY = 0.0;
};

struct ChannelReadouts {
    QString voltsPerDivision;  // "CH1 1 V/div"; empty without a sensitivity
    // Measurements ("1.000 kHz", "1.000 ms", "3.00 Vpp", "1.06 V rms", "0.002 V", ...); all
    // empty without a measurement, frequency and period "--" without a steady period. With a
    // period, rms and mean are over the whole periods ("1.06 V cycle rms", meanLabel
    // "cycle mean"), otherwise over the record ("1.06 V rms", "mean").
    QString frequency, period, peakToPeak, rms, mean, min, max;
    QString meanLabel;
    // With a period: "50.0 %", and the 10 % to 90 % times "295 µs" ("< 10.0 µs" within a
    // sample, "--" where no edge showed both levels); empty without a period.
    QString duty, rise, fall;
    // "CH1 over range" or empty: a sample of the measured record (the whole record, like min and
    // max, not only the part in view) at an end of the input range.
    QString overRange;
    // Spectrum view: the largest line, "1.000 kHz  1.500 V", at (peakX, peakY);
    // "below resolution (< 146.5 Hz)" for a line below 1.5 bins; "1.000 kHz  4.966 V  cut off"
    // (and peakCutOff) for a line above the top of the view; empty for none clearly above the
    // noise floor (display/SpectrumPeak.h).
    QString peak;
    double peakX = 0.0, peakY = 0.0;
    bool peakCutOff = false;
    // The trigger level's row; -1 without a marker. The hysteresis band's rows beside it
    // (hysteresisTop <= hysteresisBottom); -1 without one.
    int triggerLevelRow = -1;
    int hysteresisTop = -1, hysteresisBottom = -1;
    // "CH2 not measured" for a channel the acquisition's measure mode left out (then it has
    // no measurements, no over-range note and no peak); empty otherwise.
    QString notMeasured;
    // The statistics mode's lines (display/KurvoStatistics.h); empty while it is not shown.
    QStringList statistics;
    QString cursor;  // "CH1 1.234 V" while the mouse is over the chart
};

struct AxisLabel {
    int x;  // pixel column of the graticule line
    QString text;
};

struct Readouts {
    QString perDivision;  // "102.4 µs/div" (time view) or "5 kHz/div" (spectrum view)
    QString info;         // "100 kS/s, 4096 samples"
    std::vector<AxisLabel> axis;
    int triggerPointX = -1;  // column of the trigger point; -1 when it is not in view
    QString triggerStatus;   // beside it: "Trig'd" or "Auto" where the acquisition tells
    QString cursorPosition;  // "t +1.234 ms" or "f 12.35 kHz" while the mouse is over the chart
    std::array<ChannelReadouts, 2> channel;
};

Readouts ComputeReadouts(const ReadoutInputs& in);

// "CH1" / "CH2".
QString ChannelName(int channel);

}  // namespace rv8::kurvo
