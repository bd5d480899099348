// The simulated signals, their raw conversion and the simulator's options.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <numeric>
#include <vector>

#include "sim/Signal.h"
#include "sim/SimOptions.h"

namespace rv8::sim {
namespace {

struct ParseCase {
    const char* name;
    const char* text;
    std::optional<InputSignal> expected;
};

class ParseInputSignalTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseInputSignalTest, Parses) {
    EXPECT_EQ(ParseInputSignal(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseInputSignalTest,
    ::testing::Values(
        ParseCase{
            "SineWithOffset", "sine:1000:1.5:0.25",
            InputSignal{.shape = Shape::Sine, .frequency = 1000, .amplitude = 1.5, .offset = 0.25}},
        ParseCase{"SquareNoOffset", "square:250:0.3",
                  InputSignal{.shape = Shape::Square, .frequency = 250, .amplitude = 0.3}},
        ParseCase{
            "Triangle", "triangle:50:2:-1",
            InputSignal{.shape = Shape::Triangle, .frequency = 50, .amplitude = 2, .offset = -1}},
        ParseCase{"Noise", "noise:0.01", InputSignal{.shape = Shape::Noise, .noise = 0.01}},
        ParseCase{"Dc", "dc:-0.5", InputSignal{.shape = Shape::Dc, .offset = -0.5}},
        ParseCase{"Raw", "raw:40000", InputSignal{.shape = Shape::Raw, .raw = 40000}},
        ParseCase{"RawTop", "raw:65535", InputSignal{.shape = Shape::Raw, .raw = 65535}},
        ParseCase{"Ramp", "ramp", InputSignal{.shape = Shape::Ramp}},
        ParseCase{"UnknownShape", "saw:1:1", std::nullopt},
        ParseCase{"MissingAmplitude", "sine:1000", std::nullopt},
        ParseCase{"TooManyFields", "sine:1:1:1:1", std::nullopt},
        ParseCase{"NotANumber", "sine:fast:1", std::nullopt},
        ParseCase{"Trailing", "sine:1000:1V", std::nullopt},
        ParseCase{"Infinite", "sine:inf:1", std::nullopt},
        ParseCase{"NegativeFrequency", "sine:-5:1", std::nullopt},
        ParseCase{"NegativeAmplitude", "square:5:-1", std::nullopt},
        ParseCase{"NegativeNoise", "noise:-0.1", std::nullopt},
        ParseCase{"RawTooLarge", "raw:65536", std::nullopt},
        ParseCase{"RawFraction", "raw:1.5", std::nullopt},
        ParseCase{"RampWithNumber", "ramp:3", std::nullopt}, ParseCase{"Empty", "", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct RawCase {
    const char* name;
    double volts;
    double sensitivity;
    uint16_t raw;
};

class VoltsToRawTest : public ::testing::TestWithParam<RawCase> {};

TEST_P(VoltsToRawTest, Converts) {
    const RawCase& c = GetParam();
    EXPECT_EQ(VoltsToRaw(c.volts, c.sensitivity), c.raw);
    uint16_t block = 0;
    VoltsToRaw(&c.volts, 1, c.sensitivity, &block);
    EXPECT_EQ(block, c.raw) << "block conversion";
}

constexpr double kUnit = 4.0 / 32768.0;  // one raw unit at 4 V

INSTANTIATE_TEST_SUITE_P(
    Values, VoltsToRawTest,
    ::testing::Values(
        RawCase{"Zero", 0.0, 4.0, 32768}, RawCase{"Half", 2.0, 4.0, 49152},
        RawCase{"NegativeHalf", -2.0, 4.0, 16384}, RawCase{"FullScaleClipsToTop", 4.0, 4.0, 65535},
        RawCase{"BeyondTop", 9.0, 4.0, 65535}, RawCase{"NegativeFullScale", -4.0, 4.0, 0},
        RawCase{"BeyondBottom", -1e9, 4.0, 0}, RawCase{"HalfUnitToEven", 0.5 * kUnit, 4.0, 32768},
        RawCase{"OneAndAHalfUnitsToEven", 1.5 * kUnit, 4.0, 32770},
        RawCase{"MinusHalfUnitToEven", -0.5 * kUnit, 4.0, 32768},
        RawCase{"SmallRange", 0.1, 0.2, 49152}, RawCase{"ZeroRange", 1.0, 0.0, 32768},
        RawCase{"NegativeRange", 1.0, -4.0, 32768}, RawCase{"NanRange", 1.0, NAN, 32768},
        RawCase{"NanVolts", NAN, 4.0, 32768}),
    [](const auto& info) { return std::string(info.param.name); });

std::vector<double> Generate(const InputSignal& input, double fs, double t0, bool ac, std::size_t n,
                             uint64_t seed = 1) {
    std::vector<double> v(n);
    SignalGenerator gen(input, fs, t0, ac, seed);
    gen.generate(v.data(), n);
    return v;
}

TEST(SignalGeneratorTest, SineFollowsTheExactSine) {
    const InputSignal input{
        .shape = Shape::Sine, .frequency = 1234.5, .amplitude = 1.5, .offset = 0.25};
    const double fs = 100000, t0 = 0.0123;
    auto v = Generate(input, fs, t0, false, 5000);
    for (std::size_t i = 0; i < v.size(); i += 7) {
        const double exact = 0.25 + 1.5 * std::sin(2 * M_PI * input.frequency * (t0 + i / fs));
        ASSERT_NEAR(v[i], exact, 1e-5) << "sample " << i;  // well below one raw unit
    }
}

TEST(SignalGeneratorTest, ShapesAtKnownPhases) {
    // 8 samples per period from the period's start: square high then low, triangle through its
    // vertices.
    const double fs = 8000;
    auto square = Generate({.shape = Shape::Square, .frequency = 1000, .amplitude = 2, .offset = 1},
                           fs, 0, false, 8);
    EXPECT_EQ(square, (std::vector<double>{3, 3, 3, 3, -1, -1, -1, -1}));
    auto tri =
        Generate({.shape = Shape::Triangle, .frequency = 1000, .amplitude = 2}, fs, 0, false, 8);
    const std::vector<double> expected{0, 1, 2, 1, 0, -1, -2, -1};
    for (int i = 0; i < 8; ++i)
        EXPECT_NEAR(tri[i], expected[i], 1e-12) << i;
}

TEST(SignalGeneratorTest, AcCouplingRemovesOnlyTheOffset) {
    const InputSignal input{.shape = Shape::Sine, .frequency = 500, .amplitude = 1, .offset = 0.7};
    auto dc = Generate(input, 50000, 0.5, false, 1000);
    auto ac = Generate(input, 50000, 0.5, true, 1000);
    for (std::size_t i = 0; i < dc.size(); ++i)
        ASSERT_DOUBLE_EQ(dc[i] - ac[i], 0.7);
    auto level = Generate({.shape = Shape::Dc, .offset = 0.5}, 1000, 0, true, 10);
    EXPECT_EQ(level, std::vector<double>(10, 0.0));
}

TEST(SignalGeneratorTest, NoiseHasItsRmsAndRepeatsForTheSameSeed) {
    const InputSignal input{.shape = Shape::Noise, .noise = 0.01};
    auto a = Generate(input, 1e5, 0, false, 200000, 7);
    const double mean = std::accumulate(a.begin(), a.end(), 0.0) / a.size();
    double sq = 0;
    for (double x : a)
        sq += (x - mean) * (x - mean);
    EXPECT_NEAR(mean, 0.0, 0.0002);
    EXPECT_NEAR(std::sqrt(sq / a.size()), 0.01, 0.0003);
    EXPECT_EQ(a, Generate(input, 1e5, 0, false, 200000, 7));
    EXPECT_NE(a, Generate(input, 1e5, 0, false, 200000, 8));
}

TEST(SignalGeneratorTest, ChunksContinueWhereTheLastEnded) {
    const InputSignal input{.shape = Shape::Sine, .frequency = 3000, .amplitude = 1, .noise = 0.05};
    auto whole = Generate(input, 44100, 1.5, false, 1000, 3);
    SignalGenerator gen(input, 44100, 1.5, false, 3);
    std::vector<double> parts(1000);
    gen.generate(parts.data(), 333);
    gen.generate(parts.data() + 333, 667);
    EXPECT_EQ(whole, parts);
}

// The variables and what they make of good and bad values.
TEST(SimOptionsTest, ReadsEachVariable) {
    const std::map<std::string, std::string> env{
        {"RV8SIM_SERIAL", "777"},        {"RV8SIM_CALDATE", "0x1F0C07E0"},
        {"RV8SIM_MAX_FREQ", "1000000"},  {"RV8SIM_MAX_RECLEN", "500000"},
        {"RV8SIM_SENS1", "0.1"},         {"RV8SIM_SENS2", "nan"},
        {"RV8SIM_CH1", "raw:100"},       {"RV8SIM_CH2", "ramp"},
        {"RV8SIM_START_RESULT", "-3"},   {"RV8SIM_ACQ_MS", "0"},
        {"RV8SIM_TRACE", "/tmp/x.trace"}};
    std::vector<std::string> warnings;
    SimOptions o = OptionsFromEnvironment(
        [&](const char* n) { return env.count(n) ? env.at(n).c_str() : nullptr; }, &warnings);
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(o.serialNumber, 777);
    EXPECT_EQ(o.calibrationDate, 0x1F0C07E0);
    EXPECT_EQ(o.maxSampleFrequency, 1000000);
    EXPECT_EQ(o.maxRecordLength, kLargestRecordLength);  // limited to what the buffers hold
    EXPECT_EQ(o.sensitivity[0], 0.1);
    EXPECT_TRUE(std::isnan(o.sensitivity[1]));
    EXPECT_EQ(o.signal[0], (InputSignal{.shape = Shape::Raw, .raw = 100}));
    EXPECT_EQ(o.signal[1].shape, Shape::Ramp);
    EXPECT_EQ(o.startResult, -3);
    EXPECT_EQ(o.acquireMs, 0);
    EXPECT_EQ(o.tracePath, "/tmp/x.trace");
}

TEST(SimOptionsTest, BadValuesKeepTheDefaultsWithOneWarningEach) {
    const std::map<std::string, std::string> env{
        {"RV8SIM_SERIAL", "12a"},    {"RV8SIM_CALDATE", "0x1FFFFFFFF"}, {"RV8SIM_MAX_FREQ", "0"},
        {"RV8SIM_MAX_RECLEN", "-4"}, {"RV8SIM_SENS1", "four"},          {"RV8SIM_CH1", "sine"},
        {"RV8SIM_ACQ_MS", "-1"},     {"RV8SIM_START_RESULT", ""}};
    std::vector<std::string> warnings;
    SimOptions o = OptionsFromEnvironment(
        [&](const char* n) { return env.count(n) ? env.at(n).c_str() : nullptr; }, &warnings);
    EXPECT_EQ(o, SimOptions{});
    ASSERT_EQ(warnings.size(), env.size());
    EXPECT_EQ(warnings[0], "RV8SIM_SERIAL=12a ignored, expected a 32-bit integer");
}

TEST(SimOptionsTest, CalibrationWordTakesAllThirtyTwoBits) {
    std::vector<std::string> warnings;
    SimOptions o = OptionsFromEnvironment(
        [](const char* n) { return std::string(n) == "RV8SIM_CALDATE" ? "0xFF0C07E0" : nullptr; },
        &warnings);
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(static_cast<uint32_t>(o.calibrationDate), 0xFF0C07E0u);
}

}  // namespace
}  // namespace rv8::sim
