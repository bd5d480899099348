// What the chart makes of the acquisition's own settings (Kurvo::AcquisitionSettings): the
// trigger status and the hysteresis band, channels the measure mode left out, and the
// statistics mode, which counts each acquisition once.
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/Acquisition.h"
#include "display/Kurvo.h"
#include "display/Measurements.h"
#include "tests/display/KurvoTestSupport.h"

// QString in failure messages as its text.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace rv8 {
namespace {

using namespace charttest;

// An acquisition at 500000 samples/s, record 4096 with the trigger point at frame 2048, channel 1
// on the 4 V range triggering at `level` volts with `slope` and 0.5 V of hysteresis.
Acquisition Settings(int8_t slope, double level = 0.0, uint32_t number = 1) {
    Acquisition a;
    a.number = number;
    a.sampleFrequency = 500000;
    a.recordLength = 4096;
    a.postSamples = 2048;
    a.measureMode = acq::kModeChop;
    a.triggerSource = acq::kSourceChannel1;
    a.triggerSlope = slope;
    a.channel[0] = AcquisitionChannel{4.0, level, 0.5, acq::kDC};
    a.channel[1] = AcquisitionChannel{0.8, 0.0, 0.1, acq::kDC};
    return a;
}

// Plots frames [start, start + 512) of a record whose channel 1 is f(frame) volts.
template <typename F>
void PlotWindow(Kurvo& k, int32_t start, F volts) {
    std::vector<int16_t> v;
    for (int i = 0; i < 512; ++i) {
        v.push_back(static_cast<int16_t>(std::lround(volts(start + i) / 4.0 * 32767)));
        v.push_back(0);
    }
    k.WindowStart(start);
    k.PlotBuffer(v[0], 2, 512);
}

// The trigger status from the record itself: does it cross the level with the slope at the
// trigger point?
TEST(KurvoAcquisition, TriggerStatusFromTheRecord) {
    constexpr double kPi = 3.14159265358979323846;
    // A sine of 2 V rising through 0 V at frame 2048 (and falling through it at 2098).
    auto sine = [=](int32_t f) { return 2.0 * std::sin(2 * kPi * (f - 2048) / 100.0); };
    auto flat = [](int32_t) { return 0.7; };
    struct Case {
        const char* what;
        int8_t slope;
        double level;
        int32_t start;
        bool flatSignal;
        const char* status;
    };
    const Case cases[] = {
        {"rising through the level", acq::kRising, 0.0, 1900, false, "Trig'd"},
        {"rising, the window from the trigger point", acq::kRising, 0.0, 2048, false, "Trig'd"},
        {"falling where a rising slope was asked", acq::kFalling, 0.0, 1900, false, "Auto"},
        {"level the sine never reaches", acq::kRising, 3.0, 1900, false, "Auto"},
        {"flat: ran free", acq::kRising, 0.0, 1900, true, "Auto"},
        {"slope unknown", acq::kUnknown, 0.0, 1900, false, ""},
        {"trigger point out of view", acq::kRising, 0.0, 3000, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto k = MakeChart();
        k->AcquisitionSettings(Settings(c.slope, c.level));
        if (c.flatSignal) {
            PlotWindow(*k, c.start, flat);
        } else {
            PlotWindow(*k, c.start, sine);
        }
        EXPECT_EQ(k->readouts().triggerStatus, QString::fromUtf8(c.status));
    }
    // A falling slope at a falling crossing.
    auto k = MakeChart();
    k->AcquisitionSettings(Settings(acq::kFalling));
    PlotWindow(*k, 1900, [=](int32_t f) { return -sine(f); });
    EXPECT_EQ(k->readouts().triggerStatus, "Trig'd");
    // The status sits beside the trigger point's marker, clear of the strip below it.
    int status = 0;
    for (const auto& p : k->captionBoxes()) {
        if (p.part == kurvo::KurvoOverlay::Part::TriggerStatus) {
            ++status;
            EXPECT_EQ(p.y, 0);
        }
    }
    EXPECT_EQ(status, 1);
}

// The hysteresis band at the level marker: from the level to where the signal must go first.
TEST(KurvoAcquisition, HysteresisBandAtTheLevel) {
    struct Case {
        int8_t slope;
        double level;
        int top, bottom;  // rows of 401, 50 per volt on the 4 V range
    };
    const Case cases[] = {
        {acq::kRising, 0.0, 200, 225},   // below the level
        {acq::kFalling, 0.0, 175, 200},  // above it
        {acq::kUnknown, 1.0, 125, 175},  // both ways
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "slope " << int{c.slope} << " level " << c.level);
        auto k = MakeChart();
        k->AcquisitionSettings(Settings(c.slope, c.level));
        PlotWindow(*k, 1900, [](int32_t) { return 0.0; });
        const kurvo::ChannelReadouts& ch = k->readouts().channel[0];
        EXPECT_NEAR(ch.hysteresisTop, c.top, 1);
        EXPECT_NEAR(ch.hysteresisBottom, c.bottom, 1);
    }
    // No hysteresis known: no band.
    auto k = MakeChart();
    Acquisition a = Settings(acq::kRising);
    a.channel[0].triggerHysteresis = Acquisition::kNaN;
    k->AcquisitionSettings(a);
    PlotWindow(*k, 1900, [](int32_t) { return 0.0; });
    EXPECT_EQ(k->readouts().channel[0].hysteresisTop, -1);
}

// A channel the measure mode left out reads "not measured", in both views, and is neither
// measured, nor noted over range, nor given a peak, nor counted in the statistics.
TEST(KurvoAcquisition, AChannelLeftOutIsNotMeasured) {
    struct Case {
        int8_t mode;
        bool measured1, measured2;
    };
    for (const Case& c :
         {Case{acq::kModeChannel1, true, false}, Case{acq::kModeChannel2, false, true},
          Case{acq::kModeChop, true, true}, Case{acq::kUnknown, true, true}}) {
        SCOPED_TRACE(testing::Message() << "mode " << int{c.mode});
        auto k = MakeChart();
        k->BothChannels(true);
        Acquisition a = Settings(acq::kRising);
        a.measureMode = c.mode;
        k->AcquisitionSettings(a);
        // What the instrument leaves in a channel it did not measure: mid-scale, which reads
        // as a measurement of 0 V (and an over-range note is just as easily made up).
        measure::ChannelMeasurement m;
        m.frames = 4096;
        m.min = -32768;
        m.overRange = true;
        m.period = 100;
        k->Measurements(m, m);
        PlotWindow(*k, 1900, [](int32_t) { return 0.0; });
        const bool measured[2] = {c.measured1, c.measured2};
        for (int ch = 0; ch < 2; ++ch) {
            const kurvo::ChannelReadouts& r = k->readouts().channel[ch];
            EXPECT_EQ(r.notMeasured.isEmpty(), measured[ch]) << r.notMeasured.toStdString();
            EXPECT_EQ(r.frequency.isEmpty(), !measured[ch]);
            EXPECT_EQ(r.overRange.isEmpty(), !measured[ch]);
            EXPECT_EQ(k->statistics(ch).acquisitions, measured[ch] ? 1 : 0);
        }
        std::vector<int16_t> bins(2 * 513, 1);
        bins[2 * 40] = bins[2 * 60 + 1] = 9000;
        k->PlotArray(bins);
        for (int ch = 0; ch < 2; ++ch) {
            const kurvo::ChannelReadouts& r = k->readouts().channel[ch];
            EXPECT_EQ(r.notMeasured.isEmpty(), measured[ch]);
            EXPECT_EQ(r.peak.isEmpty(), !measured[ch]);
        }
    }
}

// The statistics mode: each acquisition counted once (a redraw repeats its number), afresh after
// ResetStatistics, shown with the S key or a double click on the strip.
TEST(KurvoAcquisition, StatisticsCountEachAcquisitionOnce) {
    auto k = MakeChart();
    struct Pass {
        uint32_t number;  // 0: not known
        int16_t max;      // the measurement's max, raw units
        int counted;      // acquisitions in the statistics after it
    };
    const Pass passes[] = {{1, 8192, 1},  {1, 8192, 1}, {2, 16384, 2}, {3, 0, 3},
                           {3, 16384, 3}, {0, 8192, 4}, {0, 8192, 5}};
    for (const Pass& p : passes) {
        k->AcquisitionSettings(Settings(acq::kRising, 0.0, p.number));
        measure::ChannelMeasurement m;
        m.frames = 4096;
        m.min = static_cast<int16_t>(-p.max);
        m.max = p.max;
        k->Measurements(m, m);
        EXPECT_EQ(k->statistics(0).acquisitions, p.counted) << "acquisition " << p.number;
    }
    // max over 1, 2, 3, (0), (0): 1 V, 2 V, 0 V, 1 V, 1 V.
    const kurvo::Running& max = k->statistics(0)[kurvo::Quantity::Max];
    EXPECT_EQ(max.count, 5);
    EXPECT_NEAR(max.min, 0.0, 1e-3);
    EXPECT_NEAR(max.max, 2.0, 1e-3);
    EXPECT_NEAR(max.mean, 1.0, 1e-3);
    EXPECT_NEAR(max.deviation(), std::sqrt(0.4), 1e-3);
    EXPECT_FALSE(k->statistics(0)[kurvo::Quantity::Frequency].count);  // no period

    // Shown on demand, in place of the strip.
    PlotWindow(*k, 1900, [](int32_t) { return 0.0; });
    EXPECT_TRUE(k->readouts().channel[0].statistics.isEmpty());
    QTest::keyClick(k.get(), Qt::Key_S);
    ASSERT_TRUE(k->statisticsShown());
    const QStringList lines = k->readouts().channel[0].statistics;
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], "CH1 statistics of 5 acquisitions");
    EXPECT_TRUE(lines.contains("max  min 0.0000 V  mean 1.000 V  max 2.000 V  sd 0.6325 V  n 5"))
        << lines.join(QLatin1Char('\n')).toStdString();
    QTest::keyClick(k.get(), Qt::Key_S);
    EXPECT_FALSE(k->statisticsShown());
    // A double click on the strip shows them too; one elsewhere does not.
    QTest::mouseDClick(k.get(), Qt::LeftButton, Qt::NoModifier, QPoint(kW / 2, kH / 2));
    EXPECT_FALSE(k->statisticsShown());
    int stripX = -1, stripY = -1;
    for (const auto& p : k->captionBoxes()) {
        if (p.part == kurvo::KurvoOverlay::Part::Strip && stripX < 0) {
            stripX = p.x + p.w / 2;
            stripY = p.y + p.h / 2;
        }
    }
    ASSERT_GE(stripX, 0);
    QTest::mouseDClick(k.get(), Qt::LeftButton, Qt::NoModifier, QPoint(stripX, stripY));
    EXPECT_TRUE(k->statisticsShown());

    k->ResetStatistics();
    EXPECT_EQ(k->statistics(0).acquisitions, 0);
    EXPECT_EQ(k->readouts().channel[0].statistics.value(0), "CH1 statistics of 0 acquisitions");
}

// The statistics' lines write each readout as the strip does.
TEST(KurvoAcquisition, StatisticsLinesWriteReadoutsAsTheStripDoes) {
    kurvo::ChannelStatistics s;
    for (double period : {100.0, 100.0, 100.0 + 1e-12}) {  // the same but for rounding
        measure::ChannelMeasurement m;
        m.frames = 4096;
        m.min = -8192;
        m.max = 8192;
        m.period = period;
        m.cycleMean = 0;
        m.cycleRms = 8192;
        m.duty = 0.25;
        m.riseTime = m.fallTime = 0.8;  // within a sample
        kurvo::AddMeasurement(s, m, 500000, 4.0);
    }
    const QStringList lines = kurvo::StatisticsLines(1, s, 4.0, 500000);
    const QStringList expected = {
        "CH2 statistics of 3 acquisitions",
        QString::fromUtf8("freq  min 5.000 kHz  mean 5.000 kHz  max 5.000 kHz  sd 0 Hz  n 3"),
        QString::fromUtf8("period  min 200.0 µs  mean 200.0 µs  max 200.0 µs  sd 0 s  n 3"),
        "pp  min 2.000 V  mean 2.000 V  max 2.000 V  sd 0.0000 V  n 3",
        "rms  min 1.000 V  mean 1.000 V  max 1.000 V  sd 0.0000 V  n 3",
        "mean  min 0.0000 V  mean 0.0000 V  max 0.0000 V  sd 0.0000 V  n 3",
        "min  min -1.000 V  mean -1.000 V  max -1.000 V  sd 0.0000 V  n 3",
        "max  min 1.000 V  mean 1.000 V  max 1.000 V  sd 0.0000 V  n 3",
        "duty  min 25.0 %  mean 25.0 %  max 25.0 %  sd 0.0 %  n 3",
        QString::fromUtf8("rise  min < 2.00 µs  mean < 2.00 µs  max < 2.00 µs  sd 0 s  n 3"),
        QString::fromUtf8("fall  min < 2.00 µs  mean < 2.00 µs  max < 2.00 µs  sd 0 s  n 3"),
    };
    EXPECT_EQ(lines, expected) << lines.join(QLatin1Char('\n')).toStdString();
}

}  // namespace
}  // namespace rv8
