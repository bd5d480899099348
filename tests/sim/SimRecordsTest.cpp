// The simulated instrument's records against the plain generator (SignalGenerator) as settings
// change, its noise from one measurement to the next, and the trigger's arming.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "sim/SimInstrument.h"
#include "tests/sim/SimInstrumentFixture.h"

namespace rv8::sim {
namespace {

// --- the records against the plain generator -------------------------------------------------

// What the plain generator makes of a channel's signal, without noise, for the last record.
std::vector<uint16_t> Expected(SimInstrument& sim, int channel) {
    InputSignal input = sim.options().signal[channel - 1];
    input.noise = 0.0;
    double range = 0;
    sim.GetSensitivity(channel, &range);
    std::vector<double> volts(static_cast<std::size_t>(sim.GetRecordLength()));
    SignalGenerator gen(input, sim.GetSampleFrequency(), sim.lastRecordTime(),
                        sim.GetCoupling(channel) == 0, 1);
    gen.generate(volts.data(), volts.size());
    std::vector<uint16_t> raw(volts.size());
    VoltsToRaw(volts.data(), volts.size(), range, raw.data());
    return raw;
}

// Within one unit of the plain generator, and rarely off at all.
void ExpectTheSignal(SimInstrument& sim, int channel) {
    SCOPED_TRACE("channel " + std::to_string(channel));
    const std::vector<uint16_t> expected = Expected(sim, channel);
    const std::vector<uint16_t>& got = sim.lastRecord(channel - 1);
    ASSERT_EQ(got.size(), expected.size());
    std::size_t off = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_NEAR(got[i], expected[i], 1) << "sample " << i;
        off += got[i] != expected[i];
    }
    EXPECT_LE(off, got.size() / 100);
}

struct ChangeCase {
    const char* name;
    std::function<void(SimInstrument&)> change;
};

class SettingChangeTest : public SimInstrumentTest,
                          public ::testing::WithParamInterface<ChangeCase> {};

void Reopen(SimInstrument& sim, const SimOptions& o) {
    sim.setOptions(o);
    sim.InitInstrument(776);
}

// A measurement, a change, and two more: each record is the signal at the settings in force,
// whatever the generator kept from before.
TEST_P(SettingChangeTest, NextRecordsFollowTheSettings) {
    open();
    int32_t f = 100000;
    sim.SetSampleFrequency(&f);
    sim.SetTriggerSource(5);
    measure();
    ExpectTheSignal(sim, 1);
    ExpectTheSignal(sim, 2);
    GetParam().change(sim);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        measure();
        ExpectTheSignal(sim, 1);
        ExpectTheSignal(sim, 2);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Changes, SettingChangeTest,
    ::testing::Values(
        ChangeCase{"Nothing", [](SimInstrument&) {}},
        ChangeCase{"SampleFrequency",
                   [](SimInstrument& s) {
                       int32_t f = 30000;  // 28571
                       s.SetSampleFrequency(&f);
                   }},
        ChangeCase{"RangesClipChannelOne",
                   [](SimInstrument& s) {
                       double a = 0.8, b = 0.2;
                       s.SetSensitivity(1, &a);
                       s.SetSensitivity(2, &b);
                   }},
        ChangeCase{"AcCoupling",
                   [](SimInstrument& s) {
                       s.SetCoupling(1, 0);
                       s.SetCoupling(2, 0);
                   }},
        ChangeCase{"LongerRecord", [](SimInstrument& s) { s.SetRecordLength(70000); }},
        ChangeCase{"TriggerOnChannelOne", [](SimInstrument& s) { s.SetTriggerSource(0); }},
        ChangeCase{"TriggerOnChannelTwoFalling",
                   [](SimInstrument& s) {
                       s.SetTriggerSource(1);
                       s.SetTriggerMode(1);
                       s.SetTriggerLevel(2, 0.1);
                   }},
        ChangeCase{"NewSignalsSameFrequencies",
                   [](SimInstrument& s) {
                       SimOptions o = Exact();
                       o.signal[0] = {.shape = Shape::Triangle, .frequency = 1000, .amplitude = 1};
                       o.signal[1] = {.shape = Shape::Sine, .frequency = 250, .amplitude = 0.5};
                       Reopen(s, o);
                   }},
        ChangeCase{"NewSineFrequency",
                   [](SimInstrument& s) {
                       SimOptions o = Exact();
                       o.signal[0].frequency = 1500;
                       Reopen(s, o);
                   }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimInstrumentTest, SameOptionsGiveTheSameRecordsWithFreshNoiseEachTime) {
    SimInstrument other;
    other.setRealTime(false);
    open(SimOptions{});  // the default signals, with noise on channel 1
    other.InitInstrument(776);
    std::vector<uint16_t> previous;
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        measure();
        ASSERT_EQ(other.StartMeasurement(), 0);
        EXPECT_EQ(sim.lastRecord(0), other.lastRecord(0));
        EXPECT_EQ(sim.lastRecord(1), other.lastRecord(1));
        EXPECT_NE(sim.lastRecord(0), previous);
        previous = sim.lastRecord(0);
        // 10 mV rms on the 4 V range: 81.92 units around the noise-free signal.
        const auto clean = Expected(sim, 1);
        double sq = 0;
        for (std::size_t i = 0; i < clean.size(); ++i) {
            const double d = int{previous[i]} - int{clean[i]};
            sq += d * d;
        }
        EXPECT_NEAR(std::sqrt(sq / clean.size()), 81.92, 4.0);
    }
}

TEST_F(SimInstrumentTest, DefaultSignalsTriggerAtTheLongestRecordsPoint) {
    open(SimOptions{});
    int32_t f = 100000;
    sim.SetSampleFrequency(&f);
    sim.SetRecordLength(130000);
    sim.SetPostSamples(65000);
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        measure();
        ASSERT_EQ(sim.lastTriggerIndex(), 65000);
        const auto& rec = sim.lastRecord(0);
        EXPECT_LE(rec[64999], 32768);
        EXPECT_GE(rec[65000], 32768);
    }
}

struct ArmingCase {
    const char* name;
    InputSignal signal;  // on channel 1, 4 V range
    uint8_t slope;
    double level;
    double hys;
    bool fires;
};

class TriggerArmingTest : public SimInstrumentTest,
                          public ::testing::WithParamInterface<ArmingCase> {};

// The comparator sees the clipped signal, noise included, and fires only once armed.
TEST_P(TriggerArmingTest, FiresOnlyWhenArmedAndReachable) {
    const ArmingCase& c = GetParam();
    SimOptions o = Exact();
    o.signal[0] = c.signal;
    open(o);
    int32_t f = 100000;
    sim.SetSampleFrequency(&f);
    sim.SetTriggerMode(c.slope);
    sim.SetTriggerLevel(1, c.level);
    sim.SetTriggerHys(1, c.hys);
    const uint16_t levelRaw = VoltsToRaw(c.level, 4.0);
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        measure();
        if (!c.fires) {
            EXPECT_EQ(sim.lastTriggerIndex(), -1);
            continue;
        }
        ASSERT_EQ(sim.lastTriggerIndex(), 2048);
        const auto& rec = sim.lastRecord(0);
        if (c.slope == 0) {
            EXPECT_LE(rec[2047], levelRaw);
            EXPECT_GE(rec[2048], levelRaw);
        } else {
            EXPECT_GE(rec[2047], levelRaw);
            EXPECT_LE(rec[2048], levelRaw);
        }
    }
}

const InputSignal kBigSine{.shape = Shape::Sine, .frequency = 1000, .amplitude = 10};
const InputSignal kSine{.shape = Shape::Sine, .frequency = 1000, .amplitude = 1.5};
const InputSignal kNoisyZero{.shape = Shape::Dc, .noise = 0.01};

INSTANTIATE_TEST_SUITE_P(
    Cases, TriggerArmingTest,
    ::testing::Values(ArmingCase{"LevelBeyondFullScaleNeverFires", kBigSine, 0, 5.0, 0.0, false},
                      ArmingCase{"LevelJustInsideFullScaleFires", kBigSine, 0, 3.9, 0.0, true},
                      ArmingCase{"BelowTheBottomNeverFires", kBigSine, 1, -5.0, 0.0, false},
                      ArmingCase{"HysteresisBeyondTheSwingNeverArms", kSine, 0, 0.0, 2.0, false},
                      ArmingCase{"HysteresisWithinTheSwingArms", kSine, 0, 0.0, 1.4, true},
                      ArmingCase{"FallingHysteresisWithinTheSwing", kSine, 1, 0.5, 0.9, true},
                      ArmingCase{"NoiseCrossesTheLevel", kNoisyZero, 0, 0.0, 0.02, true},
                      ArmingCase{"NoiseNeverReachesTenSigma", kNoisyZero, 0, 0.0, 0.1, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rv8::sim
