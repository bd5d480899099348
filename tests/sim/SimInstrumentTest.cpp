// The simulated instrument's rules: what it takes of each setting, how it measures, and its
// trace.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "sim/SimInstrument.h"

namespace rv8::sim {
namespace {

// Noise-free signals, so that every sample can be predicted.
SimOptions Exact() {
    SimOptions o;
    o.signal[0] = {.shape = Shape::Sine, .frequency = 1000, .amplitude = 1.5};
    o.signal[1] = {.shape = Shape::Square, .frequency = 250, .amplitude = 0.3, .offset = 0.1};
    return o;
}

class SimInstrumentTest : public ::testing::Test {
  protected:
    void open(SimOptions o = Exact()) {
        sim.setOptions(o);
        sim.InitInstrument(776);
    }
    // Measures and checks that the measurement succeeded.
    void measure() { ASSERT_EQ(sim.StartMeasurement(), 0); }

    SimInstrument sim;
    void SetUp() override { sim.setRealTime(false); }
};

// --- settings ---------------------------------------------------------------------------------

struct FrequencyCase {
    const char* name;
    int32_t requested;
    int32_t taken;
};

class AcceptedFrequencyTest : public ::testing::TestWithParam<FrequencyCase> {};

TEST_P(AcceptedFrequencyTest, TakesTheNearestDividedRate) {
    EXPECT_EQ(SimInstrument::AcceptedFrequency(GetParam().requested, 200000), GetParam().taken);
}

INSTANTIATE_TEST_SUITE_P(
    Max200k, AcceptedFrequencyTest,
    ::testing::Values(FrequencyCase{"Maximum", 200000, 200000},
                      FrequencyCase{"Half", 100000, 100000},
                      FrequencyCase{"TieGoesToTheHigherRate", 150000, 200000},
                      FrequencyCase{"NearerToHalf", 130000, 100000},
                      FrequencyCase{"Odd", 12345, 12500},           // 200000 / 16
                      FrequencyCase{"Third", 66000, 66667},         // 200000 / 3, rounded
                      FrequencyCase{"HalfRateToEven", 1562, 1562},  // 200000 / 128 = 1562.5
                      FrequencyCase{"AboveMaximum", 300000, 200000}, FrequencyCase{"Zero", 0, 1},
                      FrequencyCase{"Negative", -40, 1}, FrequencyCase{"One", 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// The window writes the rate it reads back into its box and asks for it again; that must give
// the same rate, or the box would never settle.
TEST(AcceptedFrequencyFixedPointTest, EveryTakenRateIsTakenAgainUnchanged) {
    for (int32_t max : {200000, 1000003, 44100}) {
        int32_t previous = -1;
        for (int32_t r = 1; r <= max; ++r) {
            const int32_t f = SimInstrument::AcceptedFrequency(r, max);
            if (f == previous) continue;  // rates come in runs; check each once
            previous = f;
            ASSERT_EQ(SimInstrument::AcceptedFrequency(f, max), f)
                << "max " << max << ", request " << r;
        }
    }
}

TEST(AcceptedSensitivityTest, NearestRangeAtOrAbove) {
    const std::pair<double, double> cases[] = {
        {0.1, 0.2}, {0.2, 0.2}, {0.3, 0.4}, {0.7 + 0.1, 0.8}, {0.8 + 1e-9, 2},
        {1.0, 2},   {2, 2},     {4, 4},     {5, 8},           {39.9, 40},
        {80, 80},   {100, 80},  {0, 0.2},   {-3, 0.2},        {INFINITY, 80}};
    for (auto [requested, taken] : cases) {
        EXPECT_EQ(SimInstrument::AcceptedSensitivity(requested), taken) << requested;
    }
}

TEST_F(SimInstrumentTest, PowersUpWithItsStartingSettings) {
    open();
    int32_t serial = 0, word = 0;
    sim.GetSerialNumber(&serial);
    sim.GetCalibrationDate(&word);
    EXPECT_EQ(serial, 12345);
    EXPECT_EQ(word, 0x0F0A07D8);
    EXPECT_EQ(sim.GetMaxSampleFrequency(), 200000);
    EXPECT_EQ(sim.GetSampleFrequency(), 200000);
    EXPECT_EQ(sim.GetMaxRecordLength(), 131072);
    EXPECT_EQ(sim.GetRecordLength(), 4096);
    EXPECT_EQ(sim.GetPostSamples(), 2048);
    double s1 = 0, s2 = 0;
    sim.GetSensitivity(1, &s1);
    sim.GetSensitivity(2, &s2);
    EXPECT_EQ(s1, 4.0);
    EXPECT_EQ(s2, 0.8);
    EXPECT_EQ(sim.GetTriggerTimeOut(), 100);
    EXPECT_EQ(sim.GetTriggerSource(), 0);
    EXPECT_EQ(sim.GetTriggerMode(), 0);
}

TEST_F(SimInstrumentTest, InitPowersUpAgain) {
    open();
    sim.SetRecordLength(1024);
    sim.SetCoupling(1, 0);
    sim.InitInstrument(776);
    EXPECT_EQ(sim.GetRecordLength(), 4096);
    EXPECT_EQ(sim.GetCoupling(1), 1);
}

TEST_F(SimInstrumentTest, NoInstrumentAnswersBeforeInitAfterExitOrWithSerialZero) {
    SimOptions noSerial = Exact();
    noSerial.serialNumber = 0;
    for (int step = 0; step < 3; ++step) {
        SCOPED_TRACE(step);
        if (step == 1) {
            open();
            sim.ExitInstrument();
        } else if (step == 2) {
            open(noSerial);
        }
        int32_t serial = 0;
        double volts = 7.5;
        sim.GetSerialNumber(&serial);
        sim.SetSensitivity(1, &volts);
        EXPECT_EQ(serial, 0);
        EXPECT_EQ(volts, 7.5);
        EXPECT_EQ(sim.GetMaxSampleFrequency(), 0);
        EXPECT_EQ(sim.GetRecordLength(), 0);
        EXPECT_EQ(sim.StartMeasurement(), SimInstrument::kNoInstrument);
        std::vector<uint16_t> buf(8, 7);
        sim.GetMeasurementRaw(buf.data(), buf.data());
        EXPECT_EQ(buf, std::vector<uint16_t>(8, 7));
    }
}

TEST_F(SimInstrumentTest, KeepsEachSettingWithinWhatTheHardwareTakes) {
    open();
    struct Step {
        const char* what;
        std::function<void()> set;
        std::function<int64_t()> get;
        int64_t expected;
    };
    const Step steps[] = {
        {"record length", [&] { sim.SetRecordLength(1000); }, [&] { return sim.GetRecordLength(); },
         1000},
        {"post samples limited by the length", [&] { sim.SetPostSamples(5000); },
         [&] { return sim.GetPostSamples(); }, 1000},
        {"shorter record pulls the post samples down", [&] { sim.SetRecordLength(300); },
         [&] { return sim.GetPostSamples(); }, 300},
        {"record length at least 1", [&] { sim.SetRecordLength(-5); },
         [&] { return sim.GetRecordLength(); }, 1},
        {"record length at most the maximum", [&] { sim.SetRecordLength(200000); },
         [&] { return sim.GetRecordLength(); }, 131072},
        {"post samples at least 0", [&] { sim.SetPostSamples(-1); },
         [&] { return sim.GetPostSamples(); }, 0},
        {"measure mode", [&] { sim.SetMeasureMode(2); }, [&] { return sim.GetMeasureMode(); }, 2},
        {"unknown measure mode ignored", [&] { sim.SetMeasureMode(4); },
         [&] { return sim.GetMeasureMode(); }, 2},
        {"coupling AC", [&] { sim.SetCoupling(2, 0); }, [&] { return sim.GetCoupling(2); }, 0},
        {"other channel untouched", [] {}, [&] { return sim.GetCoupling(1); }, 1},
        {"unknown coupling ignored", [&] { sim.SetCoupling(2, 7); },
         [&] { return sim.GetCoupling(2); }, 0},
        {"channel 3 ignored", [&] { sim.SetCoupling(3, 0); }, [&] { return sim.GetCoupling(1); },
         1},
        {"no trigger", [&] { sim.SetTriggerSource(5); }, [&] { return sim.GetTriggerSource(); }, 5},
        {"source code 2 ignored", [&] { sim.SetTriggerSource(2); },
         [&] { return sim.GetTriggerSource(); }, 5},
        {"falling", [&] { sim.SetTriggerMode(1); }, [&] { return sim.GetTriggerMode(); }, 1},
        {"slope code 2 ignored", [&] { sim.SetTriggerMode(2); },
         [&] { return sim.GetTriggerMode(); }, 1},
        {"negative time-out kept", [&] { sim.SetTriggerTimeOut(-1); },
         [&] { return sim.GetTriggerTimeOut(); }, -1},
    };
    for (const Step& s : steps) {
        s.set();
        EXPECT_EQ(s.get(), s.expected) << s.what;
    }
}

TEST_F(SimInstrumentTest, RangesAndFrequenciesGoBackIntoTheArgument) {
    open();
    double volts = 1.0;
    sim.SetSensitivity(2, &volts);
    EXPECT_EQ(volts, 2.0);
    double nan = NAN;
    sim.SetSensitivity(2, &nan);  // changes nothing, reports the range in force
    EXPECT_EQ(nan, 2.0);
    double check = 0;
    sim.GetSensitivity(2, &check);
    EXPECT_EQ(check, 2.0);
    int32_t f = 12345;
    sim.SetSampleFrequency(&f);
    EXPECT_EQ(f, 12500);
    EXPECT_EQ(sim.GetSampleFrequency(), 12500);
}

TEST_F(SimInstrumentTest, TriggerLevelAndHysteresisAreKeptAsSent) {
    open();
    sim.SetTriggerLevel(1, 0.1234);
    sim.SetTriggerHys(2, 0.025);
    double level = 0, hys = 0;
    sim.GetTriggerLevel(1, &level);
    sim.GetTriggerHys(2, &hys);
    EXPECT_EQ(level, 0.1234);
    EXPECT_EQ(hys, 0.025);
}

TEST_F(SimInstrumentTest, StartingRangesAreTakenAsGiven) {
    SimOptions o = Exact();
    o.sensitivity[0] = 0.1;
    o.sensitivity[1] = NAN;
    open(o);
    double s1 = 0, s2 = 0;
    sim.GetSensitivity(1, &s1);
    sim.GetSensitivity(2, &s2);
    EXPECT_EQ(s1, 0.1);
    EXPECT_TRUE(std::isnan(s2));
    measure();  // a NaN range measures mid-scale rather than failing
    EXPECT_EQ(sim.lastRecord(1), std::vector<uint16_t>(4096, 32768));
}

TEST_F(SimInstrumentTest, AcquisitionTakesTheRecordsDurationUpToATenthOfASecond) {
    open();
    EXPECT_EQ(sim.acquisitionMs(), 21);  // 4096 samples at 200 kHz: 20.48 ms
    int32_t f = 1000;
    sim.SetSampleFrequency(&f);
    EXPECT_EQ(sim.acquisitionMs(), 100);
    SimOptions o = Exact();
    o.acquireMs = 0;
    open(o);
    EXPECT_EQ(sim.acquisitionMs(), 0);
}

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

// --- trace ------------------------------------------------------------------------------------

TEST_F(SimInstrumentTest, TraceLinesNameArgumentsReferencesAndResults) {
    std::vector<std::string> lines;
    sim.setTraceSink([&](const std::string& l) { lines.push_back(l); });
    open();
    int32_t serial = 0, word = 5, f = 150001;
    double s = 1, level = 0;
    std::vector<uint16_t> buf(4096);
    sim.GetSerialNumber(&serial);
    sim.GetCalibrationDate(&word);
    sim.GetMaxSampleFrequency();
    sim.SetSampleFrequency(&f);
    sim.SetSensitivity(1, &s);
    sim.SetCoupling(2, 0);
    sim.GetCoupling(2);
    sim.SetTriggerLevel(2, -0.1);
    sim.GetTriggerLevel(2, &level);
    sim.SetTriggerTimeOut(-1);
    sim.StartMeasurement();
    sim.GetMeasurementRaw(buf.data(), buf.data());
    sim.ExitInstrument();
    sim.GetRecordLength();
    const std::vector<std::string> expected{
        "InitInstrument 776",
        "GetSerialNumber 0 -> 12345",
        "GetCalibrationDate 5 -> 252315608",
        "GetMaxSampleFrequency = 200000",
        "SetSampleFrequency 150001 -> 200000",
        "SetSensitivity 1 1 -> 2",
        "SetCoupling 2 0",
        "GetCoupling 2 = 0",
        "SetTriggerLevel 2 -0.1",
        "GetTriggerLevel 2 0 -> -0.1",
        "SetTriggerTimeOut -1",
        "StartMeasurement = 0",
        "GetMeasurementRaw -> 4096",
        "ExitInstrument",
        "GetRecordLength = 0",
    };
    EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace rv8::sim
