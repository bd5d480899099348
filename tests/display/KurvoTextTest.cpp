#include "display/KurvoText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "display/KurvoReadouts.h"

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace rv8::kurvo {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(KurvoText, TimePerDivisionAtEveryScale) {
    // 512 x Scale frames at 500000 samples/s.
    const char* const expected[32] = {
        "102.4 µs", "204.8 µs", "307.2 µs", "409.6 µs", "512 µs",   "614.4 µs", "716.8 µs",
        "819.2 µs", "921.6 µs", "1.024 ms", "1.126 ms", "1.229 ms", "1.331 ms", "1.434 ms",
        "1.536 ms", "1.638 ms", "1.741 ms", "1.843 ms", "1.946 ms", "2.048 ms", "2.15 ms",
        "2.253 ms", "2.355 ms", "2.458 ms", "2.56 ms",  "2.662 ms", "2.765 ms", "2.867 ms",
        "2.97 ms",  "3.072 ms", "3.174 ms", "3.277 ms"};
    for (int scale = 1; scale <= 32; ++scale) {
        EXPECT_EQ(TimePerDivisionText(SecondsPerDivision(512.0 * scale, 500000)),
                  QString::fromUtf8(expected[scale - 1]) + QStringLiteral("/div"))
            << "scale " << scale;
    }
}

TEST(KurvoText, TimePerDivisionAtOtherFrequencies) {
    struct Case {
        double frames, hz;
        const char* text;
    };
    for (const Case& c : std::vector<Case>{
             {512, 100000, "512 µs/div"},
             {512, 200000, "256 µs/div"},
             {16384, 100000, "16.38 ms/div"},
             {512, 28571, "1.792 ms/div"},  // 200000 / 7
             {512, 12500, "4.096 ms/div"},
             {512, 1, "51.2 s/div"},
             {16384, 10, "163.8 s/div"},
             {512, 2147483647, "23.84 ns/div"},
             {600, 100000, "600 µs/div"},  // a short record, all of it shown
             {512, 0, "--/div"},
         }) {
        EXPECT_EQ(TimePerDivisionText(SecondsPerDivision(c.frames, c.hz)),
                  QString::fromUtf8(c.text))
            << c.frames << " at " << c.hz;
    }
}

TEST(KurvoText, VoltsPerDivisionFollowTheRange) {
    struct Case {
        int32_t ymin, ymax;
        double sensitivity;
        const char* text;
    };
    for (const Case& c : std::vector<Case>{
             {-32768, 32767, 4, "1 V/div"},     // full scale
             {-16384, 16383, 4, "500 mV/div"},  // one wheel notch in
             {-8192, 8191, 4, "250 mV/div"},    // two
             {-8, 7, 4, "244.1 µV/div"},        // the narrowest range
             {-65536, 65535, 4, "2 V/div"},     // one notch out
             {0, 65535, 4, "1 V/div"},          // dragged: the span stays
             {-32768, 32767, 0.8, "200 mV/div"},
             {-32768, 32767, 80, "20 V/div"},
             {-32768, 32767, 0.2, "50 mV/div"},
             {0, 32768, 4, "500 mV/div"},  // the spectrum view's range
             {-2147483647 - 1, 2147483647, 80, "1.311 MV/div"},
         }) {
        EXPECT_EQ(VoltsPerDivisionText(VoltsPerDivision(c.ymin, c.ymax, c.sensitivity)),
                  QString::fromUtf8(c.text))
            << c.ymin << ".." << c.ymax << " at " << c.sensitivity;
    }
}

TEST(KurvoText, NumberTexts) {
    struct Case {
        QString text;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {Engineering(999.96e-6, "s", 4, true), "1 ms"},  // rounds into the next prefix
        {Engineering(9.99996, "V", 4, false), "10.00 V"},
        {Engineering(-0.0123, "V", 3, false), "-12.3 mV"},
        {Engineering(0, "s", 4, true), "0 s"},
        {Engineering(kNaN, "s", 4, true), "--"},
        {Engineering(3e-12, "s", 3, false), "0.00300 ns"},  // below the smallest prefix
        {TimeFromTriggerText(0), "0"},
        {TimeFromTriggerText(204.8e-6), "+204.8 µs"},
        {TimeFromTriggerText(-1.024e-3), "-1.024 ms"},
        {TimeFromTriggerText(3e-3, false), "+3.000 ms"},
        {FrequencyText(1000), "1.000 kHz"},
        {FrequencyText(250), "250.0 Hz"},
        {FrequencyText(7812.5), "7.813 kHz"},
        {FrequencyText(0.5), "500.0 mHz"},
        {FrequencyText(kNaN), "--"},
        {PeriodText(1e-3), "1.000 ms"},
        {FrequencyAxisText(0), "0"},
        {FrequencyAxisText(25000), "25 kHz"},
        {FrequencyAxisText(12500), "12.5 kHz"},
        {FrequencyAxisText(5e6), "5 MHz"},
        {EdgeTimeText(295.2e-6, 1e-5), "295 µs"},
        {EdgeTimeText(8e-6, 1e-5), "< 10.0 µs"},  // within one sample
        {EdgeTimeText(kNaN, 1e-5), "--"},
        {DutyText(0.5), "50.0 %"},
        {DutyText(0.2704), "27.0 %"},
        {DutyText(kNaN), "--"},
        {SampleRateText(100000), "100 kS/s"},
        {SampleRateText(28571), "28.57 kS/s"},
        {SampleRateText(1), "1 S/s"},
        // Volts: the fourth significant digit, never one below the step's decade.
        {VoltsText(3.04, RecordStep(4)), "3.040 V"},
        {VoltsText(1.0607, RecordStep(4)), "1.061 V"},
        {VoltsText(0.0001, RecordStep(4)), "0.0001 V"},
        {VoltsText(0.00004, RecordStep(4)), "0.0000 V"},
        {VoltsText(-0.00004, RecordStep(4)), "0.0000 V"},  // no sign on zero
        {VoltsText(-1.52, RecordStep(4), "V"), "-1.520 V"},
        {VoltsText(0.6, RecordStep(0.8)), "0.6000 V"},
        {VoltsText(-0.09999, RecordStep(0.8)), "-0.09999 V"},
        {VoltsText(-0.099996, RecordStep(0.8)), "-0.1000 V"},  // rounds up to the next decade
        {VoltsText(0.1, RecordStep(0.8)), "0.1000 V"},
        {VoltsText(50, RecordStep(80)), "50.00 V"},
        {VoltsText(0.3, RecordStep(80), "Vpp"), "0.300 Vpp"},
        {VoltsText(0.0004, RecordStep(80)), "0.000 V"},
        {VoltsText(0.01, RecordStep(0.2)), "0.01000 V"},
        {VoltsText(1.23456, 0.02), "1.23 V"},  // a coarser step: fewer digits
        {VoltsText(1.23456, kNaN), "1.235 V"},
        {VoltsText(0, kNaN), "0 V"},
        {VoltsText(kNaN, RecordStep(4)), "-- V"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.text, QString::fromUtf8(c.expected));
}

// A 512 x 401 time view of `points` frames from `start` at 500000 samples/s, record 4096 with
// the trigger point at frame 2048.
ReadoutInputs TimeView(int points, int32_t start) {
    ReadoutInputs in;
    in.width = 512;
    in.height = 401;
    in.points = points;
    in.sampleFrequency = 500000;
    in.sensitivity = {4, 0.8};
    in.recordLength = 4096;
    in.postSamples = 2048;
    in.windowStart = start;
    return in;
}

TEST(KurvoReadouts, TriggerPointAndAxisFollowTheWindow) {
    struct Case {
        int points;
        int32_t start;
        int triggerX;
        const char* first;
        const char* last;
    };
    for (const Case& c : std::vector<Case>{
             {512, 2048, 0, "0", "+1.024 ms"},
             {512, 1792, 256, "-512 µs", "+512 µs"},  // the trigger point in the middle
             {512, 1537, 511, "-1.022 ms", "+2 µs"},  // its last column
             {512, 1536, -1, "-1.024 ms", "0"},       // just beyond the right edge
             {512, 0, -1, "-4.096 ms", "-3.072 ms"},
             {4096, 0, 256, "-4.096 ms", "+4.096 ms"},  // the whole record
             // Fewer points than columns, spread from the first column to the last: the last
             // column shows frame 2199, 151 frames after the trigger point.
             {300, 1900, 252, "-296 µs", "+302 µs"},
             {11, 2043, 255, "-10 µs", "+10 µs"},  // one frame a division
         }) {
        SCOPED_TRACE(testing::Message() << c.points << " from " << c.start);
        const Readouts r = ComputeReadouts(TimeView(c.points, c.start));
        EXPECT_EQ(r.triggerPointX, c.triggerX);
        ASSERT_EQ(r.axis.size(), 6u);
        EXPECT_EQ(r.axis.front().x, 0);
        EXPECT_EQ(r.axis.back().x, 511);
        EXPECT_EQ(r.axis.front().text, QString::fromUtf8(c.first));
        EXPECT_EQ(r.axis.back().text, QString::fromUtf8(c.last));
    }
    // The time per division by the same rule: 11 points a frame apart span 10 frames.
    EXPECT_EQ(ComputeReadouts(TimeView(11, 2043)).perDivision, QStringLiteral("2 µs/div"));
    EXPECT_EQ(ComputeReadouts(TimeView(512, 2048)).perDivision, QStringLiteral("102.4 µs/div"));
}

TEST(KurvoReadouts, WhatIsLeftOutWithoutItsSetting) {
    ReadoutInputs in = TimeView(512, 2048);
    in.sampleFrequency = kNaN;
    in.sensitivity = {kNaN, 0.8};
    in.measured[0].frames = 4096;
    in.recordLength = 0;
    in.triggerSource = 0;
    const Readouts r = ComputeReadouts(in);
    EXPECT_TRUE(r.perDivision.isEmpty());
    EXPECT_TRUE(r.axis.empty());
    EXPECT_TRUE(r.info.isEmpty());
    EXPECT_EQ(r.triggerPointX, -1);
    EXPECT_TRUE(r.channel[0].voltsPerDivision.isEmpty());
    EXPECT_TRUE(r.channel[0].frequency.isEmpty());
    EXPECT_EQ(r.channel[0].triggerLevelRow, -1);
    // More post-trigger samples than the record: no trigger point at all.
    in = TimeView(512, 0);
    in.postSamples = 5000;
    EXPECT_EQ(ComputeReadouts(in).triggerPointX, -1);
}

TEST(KurvoReadouts, TriggerLevelMarksTheSourceChannelsRow) {
    struct Case {
        int source;
        double level;
        int32_t ymin, ymax;
        int row0, row1;
    };
    for (const Case& c : std::vector<Case>{{0, 0.0, -32768, 32767, 200, -1},
                                           {0, 2.0, -32768, 32767, 100, -1},
                                           {0, 10.0, -32768, 32767, 0, -1},  // beyond: the edge
                                           {0, 1.0, -16384, 16383, 100, -1},
                                           {1, 0.0, -32768, 32767, -1, 200},
                                           {5, 0.0, -32768, 32767, -1, -1}}) {
        ReadoutInputs in = TimeView(512, 2048);
        in.shown = {true, true};
        in.triggerSource = c.source;
        in.triggerLevel = {c.level, c.level * 0.2};
        in.ymin = {c.ymin, c.ymin};
        in.ymax = {c.ymax, c.ymax};
        const Readouts r = ComputeReadouts(in);
        EXPECT_EQ(r.channel[0].triggerLevelRow, c.row0) << c.source << " " << c.level;
        EXPECT_EQ(r.channel[1].triggerLevelRow, c.row1) << c.source << " " << c.level;
    }
}

// One rule for the digits of every voltage: from the record's resolution and the value, whatever
// the range (a 0.300 Vpp sine on the 80 V range read "0.3 Vpp 0.1 V rms mean 0.0 V").
TEST(KurvoReadouts, VoltagesShowTheDigitsTheRecordResolves) {
    struct Case {
        const char* what;
        double sensitivity;
        int16_t min, max;
        double mean, rms;  // raw units
        const char *pp, *rmsText, *meanText, *minText, *maxText;
    };
    const Case cases[] = {
        {"0.300 Vpp on the 80 V range", 80, -61, 62, 0.2, 43.5, "0.300 Vpp", "0.106 V rms",
         "0.000 V", "-0.149 V", "0.151 V"},
        {"14.1 mV rms on the 4 V range", 4, -164, 164, 0.4, 115.8, "0.0400 Vpp", "0.0141 V rms",
         "0.0000 V", "-0.0200 V", "0.0200 V"},
        {"3 V on the 4 V range", 4, -24576, 24576, 8.0, 17378, "6.000 Vpp", "2.121 V rms",
         "0.0010 V", "-3.000 V", "3.000 V"},
        {"0.1 V on the 0.8 V range", 0.8, -4096, 4096, 1232.8, 4096, "0.2000 Vpp", "0.1000 V rms",
         "0.03010 V", "-0.1000 V", "0.1000 V"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReadoutInputs in = TimeView(512, 2048);
        in.sensitivity = {c.sensitivity, 0.8};
        measure::ChannelMeasurement& m = in.measured[0];
        m.frames = 4096;
        m.min = c.min;
        m.max = c.max;
        m.mean = c.mean;
        m.rms = c.rms;
        const ChannelReadouts r = ComputeReadouts(in).channel[0];
        EXPECT_EQ(r.peakToPeak, QString::fromUtf8(c.pp));
        EXPECT_EQ(r.rms, QString::fromUtf8(c.rmsText));
        EXPECT_EQ(r.mean, QString::fromUtf8(c.meanText));
        EXPECT_EQ(r.min, QString::fromUtf8(c.minText));
        EXPECT_EQ(r.max, QString::fromUtf8(c.maxText));
    }
    // A small spectrum peak on the 80 V range is not "0.00 V".
    ReadoutInputs in;
    in.spectrum = true;
    in.width = 512;
    in.height = 401;
    in.points = 513;
    in.sampleFrequency = 100000;
    in.sensitivity = {80, 0.8};
    in.peaks[0] = measure::SpectrumPeak{true, 10.24, 4.1};  // 10 mV at 1 kHz
    EXPECT_EQ(ComputeReadouts(in).channel[0].peak, "1.000 kHz  0.010 V");
}

TEST(KurvoReadouts, SpectrumViewAxisPeakAndCursor) {
    ReadoutInputs in;
    in.spectrum = true;
    in.width = 512;
    in.height = 401;
    in.points = 513;
    in.sampleFrequency = 500000;
    in.sensitivity = {4, 0.8};
    in.ymin = {0, 0};
    in.ymax = {32768, 32768};
    in.peaks[0] = measure::SpectrumPeak{true, 2.048, 12288};
    in.peaks[1] = measure::SpectrumPeak{true, 100.0, 1000};  // channel 2 is not shown
    in.cursor = true;
    in.cursorX = 256;
    in.cursorY = 200;
    const Readouts r = ComputeReadouts(in);
    EXPECT_EQ(r.perDivision, "25 kHz/div");
    ASSERT_EQ(r.axis.size(), 6u);
    EXPECT_EQ(r.axis[1].text, "50 kHz");
    EXPECT_EQ(r.axis[5].text, "250 kHz");
    EXPECT_EQ(r.channel[0].peak, "1.000 kHz  1.500 V");
    EXPECT_NEAR(r.channel[0].peakX, 2.04, 0.01);
    EXPECT_EQ(r.channel[0].peakY, 250);  // 12288 of 32768 up from the bottom
    EXPECT_TRUE(r.channel[1].peak.isEmpty());
    EXPECT_EQ(r.cursorPosition, "f 125.2 kHz");     // point 256.5 of 513
    EXPECT_EQ(r.channel[0].cursor, "CH1 2.000 V");  // to a row of 10 mV
    EXPECT_EQ(r.triggerPointX, -1);                 // no trigger marks in this view
}

}  // namespace
}  // namespace rv8::kurvo
