// The simulated instrument's rules for its settings: what it takes of each, how it powers up and
// what it answers without an instrument; and its trace of the calls.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "sim/SimInstrument.h"
#include "tests/sim/SimInstrumentFixture.h"

namespace rv8::sim {
namespace {

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
