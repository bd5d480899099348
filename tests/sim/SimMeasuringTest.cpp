// How the simulated instrument measures: where the trigger places the record, coupling, clipping,
// measure modes, raw signals, and how much a fetch writes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "sim/SimInstrument.h"
#include "tests/sim/SimInstrumentFixture.h"

namespace rv8::sim {
namespace {

// --- measuring --------------------------------------------------------------------------------

struct TriggerCase {
    const char* name;
    int32_t source;  // driver code
    uint8_t slope;
    double level;
    double hys;
};

class TriggerPlacementTest : public SimInstrumentTest,
                             public ::testing::WithParamInterface<TriggerCase> {};

// The sample at the trigger index reaches the level in the slope's direction from the one
// before it, and the record keeps the post-trigger samples after it.
TEST_P(TriggerPlacementTest, TriggerPointSitsBeforeThePostSamples) {
    const TriggerCase& c = GetParam();
    open();
    int32_t f = 100000;
    sim.SetSampleFrequency(&f);
    sim.SetMeasureMode(3);
    sim.SetRecordLength(4096);
    sim.SetPostSamples(1000);
    sim.SetTriggerSource(c.source);
    sim.SetTriggerMode(c.slope);
    const int channel = c.source == 0 ? 1 : 2;
    sim.SetTriggerLevel(channel, c.level);
    sim.SetTriggerHys(channel, c.hys);
    double s = 0;
    sim.GetSensitivity(channel, &s);
    const uint16_t levelRaw = VoltsToRaw(c.level, s);
    for (int run = 0; run < 5; ++run) {
        SCOPED_TRACE(run);
        measure();
        ASSERT_EQ(sim.lastTriggerIndex(), 4096 - 1000);
        const auto& rec = sim.lastRecord(channel - 1);
        const uint16_t before = rec[4096 - 1000 - 1], at = rec[4096 - 1000];
        // A sample just short of the level may round to the level's own raw value.
        if (c.slope == 0) {
            EXPECT_LE(before, levelRaw);
            EXPECT_GE(at, levelRaw);
            EXPECT_GT(at, before);
        } else {
            EXPECT_GE(before, levelRaw);
            EXPECT_LE(at, levelRaw);
            EXPECT_LT(at, before);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TriggerPlacementTest,
                         ::testing::Values(TriggerCase{"SineRisingAtZero", 0, 0, 0.0, 0.0},
                                           TriggerCase{"SineFallingAtZero", 0, 1, 0.0, 0.0},
                                           TriggerCase{"SineRisingHighWithHysteresis", 0, 0, 1.2,
                                                       0.5},
                                           TriggerCase{"SineFallingLow", 0, 1, -1.0, 0.1},
                                           TriggerCase{"SquareRising", 1, 0, 0.1, 0.05},
                                           TriggerCase{"SquareFalling", 1, 1, 0.1, 0.0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimInstrumentTest, TriggeredRecordsStandStillFreeRunningOnesDrift) {
    open();
    int32_t f = 100000;
    sim.SetSampleFrequency(&f);
    measure();
    const auto first = sim.lastRecord(0);
    measure();
    // 1 kHz at 100 kHz moves at most 2 pi x 1.5 V / 100 per sample: the trigger's jitter.
    const int jitter = static_cast<int>(2 * M_PI * 1.5 / 100 / 4.0 * 32768) + 1;
    for (std::size_t i = 0; i < first.size(); ++i) {
        ASSERT_NEAR(sim.lastRecord(0)[i], first[i], jitter) << i;
    }
    sim.SetTriggerSource(5);
    measure();
    const auto free1 = sim.lastRecord(0);
    measure();
    EXPECT_EQ(sim.lastTriggerIndex(), -1);
    EXPECT_NE(sim.lastRecord(0), free1);
}

TEST_F(SimInstrumentTest, NoCrossingRunsFreeWhateverTheTimeOut) {
    SimOptions o = Exact();
    o.signal[0] = {.shape = Shape::Dc, .offset = 0.5};
    for (int32_t timeout : {100, 0, -1}) {
        open(o);
        sim.SetTriggerTimeOut(timeout);
        sim.SetTriggerLevel(1, 1.0);  // never reached
        measure();
        EXPECT_EQ(sim.lastTriggerIndex(), -1) << timeout;
        EXPECT_EQ(sim.lastRecord(0), std::vector<uint16_t>(4096, 36864)) << timeout;
    }
}

TEST_F(SimInstrumentTest, CouplingDecidesWhetherTheDcPartShows) {
    SimOptions o = Exact();
    o.signal[0] = {.shape = Shape::Dc, .offset = 0.5};
    open(o);
    sim.SetTriggerSource(5);
    measure();
    EXPECT_EQ(sim.lastRecord(0), std::vector<uint16_t>(4096, 36864));  // 0.5 / 4 x 32768 + 32768
    sim.SetCoupling(1, 0);
    measure();
    EXPECT_EQ(sim.lastRecord(0), std::vector<uint16_t>(4096, 32768));
}

TEST_F(SimInstrumentTest, SamplesClipAtFullScale) {
    SimOptions o = Exact();
    o.signal[0] = {.shape = Shape::Sine, .frequency = 1000, .amplitude = 10};
    open(o);
    measure();
    const auto& rec = sim.lastRecord(0);
    EXPECT_EQ(*std::min_element(rec.begin(), rec.end()), 0);
    EXPECT_EQ(*std::max_element(rec.begin(), rec.end()), 65535);
}

TEST_F(SimInstrumentTest, MeasureModeDecidesWhichChannelsCarrySignal) {
    const std::vector<uint16_t> flat(4096, 32768);
    const struct {
        int32_t mode;
        bool ch1, ch2;
    } cases[] = {{1, true, false}, {2, false, true}, {3, true, true}};
    for (const auto& c : cases) {
        open();
        sim.SetMeasureMode(c.mode);
        measure();
        EXPECT_EQ(sim.lastRecord(0) != flat, c.ch1) << "mode " << c.mode;
        EXPECT_EQ(sim.lastRecord(1) != flat, c.ch2) << "mode " << c.mode;
    }
}

TEST_F(SimInstrumentTest, RawAndRampIgnoreRangeAndCoupling) {
    SimOptions o = Exact();
    o.signal[0] = {.shape = Shape::Raw, .raw = 1234};
    o.signal[1] = {.shape = Shape::Ramp};
    open(o);
    sim.SetRecordLength(70000);
    sim.SetCoupling(1, 0);
    double volts = 80;
    sim.SetSensitivity(2, &volts);
    measure();
    EXPECT_EQ(sim.lastRecord(0), std::vector<uint16_t>(70000, 1234));
    const auto& ramp = sim.lastRecord(1);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ASSERT_EQ(ramp[i], i % 65536) << i;
}

TEST_F(SimInstrumentTest, FetchWritesExactlyTheRecordLength) {
    open();
    sim.SetRecordLength(1024);
    std::vector<uint16_t> ch1(1100, 7), ch2(1100, 7);
    sim.GetMeasurementRaw(ch1.data(), ch2.data());  // nothing measured yet: mid-scale
    EXPECT_EQ(std::vector<uint16_t>(ch1.begin(), ch1.begin() + 1024),
              std::vector<uint16_t>(1024, 32768));
    measure();
    sim.GetMeasurementRaw(ch1.data(), ch2.data());
    EXPECT_TRUE(std::equal(ch1.begin(), ch1.begin() + 1024, sim.lastRecord(0).begin()));
    EXPECT_TRUE(std::equal(ch2.begin(), ch2.begin() + 1024, sim.lastRecord(1).begin()));
    EXPECT_EQ(std::vector<uint16_t>(ch1.begin() + 1024, ch1.end()), std::vector<uint16_t>(76, 7));
    EXPECT_EQ(std::vector<uint16_t>(ch2.begin() + 1024, ch2.end()), std::vector<uint16_t>(76, 7));

    sim.SetRecordLength(1050);  // longer than the record: its end reads mid-scale
    sim.GetMeasurementRaw(ch1.data(), nullptr);
    EXPECT_EQ(std::vector<uint16_t>(ch1.begin() + 1024, ch1.begin() + 1050),
              std::vector<uint16_t>(26, 32768));
    EXPECT_EQ(ch1[1050], 7);

    sim.SetRecordLength(1000);  // shorter than the record: only its start is written
    std::fill(ch2.begin(), ch2.end(), 7);
    sim.GetMeasurementRaw(nullptr, ch2.data());
    EXPECT_TRUE(std::equal(ch2.begin(), ch2.begin() + 1000, sim.lastRecord(1).begin()));
    EXPECT_EQ(std::vector<uint16_t>(ch2.begin() + 1000, ch2.end()), std::vector<uint16_t>(100, 7));
}

TEST_F(SimInstrumentTest, FailedMeasurementsAcquireNothing) {
    SimOptions o = Exact();
    o.startResult = 3;
    open(o);
    EXPECT_EQ(sim.StartMeasurement(), 3);
    EXPECT_TRUE(sim.lastRecord(0).empty());
}

}  // namespace
}  // namespace rv8::sim
