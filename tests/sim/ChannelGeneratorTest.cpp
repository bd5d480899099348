// The instrument's generator against the plain one: the same raw samples to within one unit for
// every shape, coupling and range, any stretch in any order, noise that is noise, and tables that
// follow the settings.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "sim/Signal.h"
#include "sim/SimInstrument.h"

namespace rv8::sim {
namespace {

// The plain form: SignalGenerator's volts, converted sample by sample. Without noise.
std::vector<uint16_t> Direct(InputSignal input, double fs, double t0, bool ac, double range,
                             int64_t first, std::size_t n) {
    input.noise = 0.0;
    std::vector<double> volts(static_cast<std::size_t>(first) + n);
    SignalGenerator gen(input, fs, t0, ac, 1);
    gen.generate(volts.data(), volts.size());
    std::vector<uint16_t> raw(n);
    for (std::size_t i = 0; i < n; ++i)
        raw[i] = VoltsToRaw(volts[static_cast<std::size_t>(first) + i], range);
    return raw;
}

std::vector<uint16_t> Fast(const InputSignal& input, double fs, double t0, bool ac, double range,
                           int64_t first, std::size_t n, uint64_t seed = 1) {
    ChannelGenerator gen;
    gen.configure(input, fs);
    gen.start(t0, range, ac, seed);
    std::vector<uint16_t> raw(n);
    gen.raw(first, n, raw.data());
    return raw;
}

// Every sample within one unit, and few off at all (a systematic offset would show).
void ExpectWithinQuantisation(const std::vector<uint16_t>& fast,
                              const std::vector<uint16_t>& direct) {
    ASSERT_EQ(fast.size(), direct.size());
    std::size_t off = 0;
    for (std::size_t i = 0; i < fast.size(); ++i) {
        const int d = int{fast[i]} - int{direct[i]};
        ASSERT_LE(std::abs(d), 1) << "sample " << i << ": " << fast[i] << " vs " << direct[i];
        off += d != 0;
    }
    EXPECT_LE(off, fast.size() / 100) << off << " samples one unit off";
}

struct ShapeCase {
    const char* name;
    InputSignal input;
};

const ShapeCase kShapes[] = {
    // Peaks of 1.75 V and -1.25 V: clipped on the three smallest ranges.
    {"Sine", {.shape = Shape::Sine, .frequency = 1234.5, .amplitude = 1.5, .offset = 0.25}},
    {"Square", {.shape = Shape::Square, .frequency = 250, .amplitude = 0.3, .offset = 0.1}},
    {"Triangle", {.shape = Shape::Triangle, .frequency = 777, .amplitude = 3, .offset = -0.5}},
    {"Dc", {.shape = Shape::Dc, .offset = -0.15}},
    {"FastSine", {.shape = Shape::Sine, .frequency = 45000, .amplitude = 0.19}},
    {"SlowSquare", {.shape = Shape::Square, .frequency = 3, .amplitude = 0.05, .offset = 0.01}},
};

using ShapeParam = std::tuple<ShapeCase, bool, double>;  // shape, AC coupled, range

class GeneratorMatchesDirectTest : public ::testing::TestWithParam<ShapeParam> {};

TEST_P(GeneratorMatchesDirectTest, WithinOneUnitOverSeveralBlocks) {
    const auto& [shape, ac, range] = GetParam();
    // A rate the clock makes (200000 / 7), a start time well into the run and a stretch that
    // starts inside a block.
    const double fs = 28571, t0 = 3.217;
    const int64_t first = 3000;
    const std::size_t n = 5 * ChannelGenerator::kBlock + 17;
    ExpectWithinQuantisation(Fast(shape.input, fs, t0, ac, range, first, n),
                             Direct(shape.input, fs, t0, ac, range, first, n));
}

INSTANTIATE_TEST_SUITE_P(ShapesCouplingsRanges, GeneratorMatchesDirectTest,
                         ::testing::Combine(::testing::ValuesIn(kShapes), ::testing::Bool(),
                                            ::testing::ValuesIn(SimInstrument::kSensitivities)),
                         [](const auto& info) {
                             std::string range = std::to_string(std::get<2>(info.param));
                             range = range.substr(0, range.find_last_not_of('0') + 1);
                             if (range.back() == '.') range.pop_back();
                             for (char& c : range)
                                 if (c == '.') c = '_';
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_Ac_" : "_Dc_") + range + "V";
                         });

TEST(ChannelGeneratorTest, ClipsAtFullScaleBothWays) {
    const InputSignal input{.shape = Shape::Sine, .frequency = 1000, .amplitude = 10};
    const auto raw = Fast(input, 100000, 0, false, 4.0, 0, 1000);
    EXPECT_EQ(std::count(raw.begin(), raw.end(), 0), std::count(raw.begin(), raw.end(), 65535));
    EXPECT_GT(std::count(raw.begin(), raw.end(), 0), 300);  // beyond 4 V for 74% of the time
    // Far beyond any range: still clipped, nothing wraps round. One period of 100 samples.
    const auto huge = Fast({.shape = Shape::Square, .frequency = 10, .amplitude = 1e300}, 1000, 0,
                           false, 0.2, 0, 100);
    std::vector<uint16_t> expected(100, 65535);
    std::fill(expected.begin() + 50, expected.end(), 0);
    EXPECT_EQ(huge, expected);
}

TEST(ChannelGeneratorTest, RangesThatDoNotConvertGiveMidScale) {
    const InputSignal input{.shape = Shape::Sine, .frequency = 1000, .amplitude = 1};
    for (double range : {0.0, -4.0, double{NAN}, double{INFINITY}}) {
        EXPECT_EQ(Fast(input, 100000, 0, false, range, 0, 300), std::vector<uint16_t>(300, 32768))
            << range;
    }
}

TEST(ChannelGeneratorTest, AnyStretchInAnyOrderGivesTheSameSamples) {
    const InputSignal input{.shape = Shape::Sine, .frequency = 997, .amplitude = 1, .noise = 0.05};
    ChannelGenerator gen;
    gen.configure(input, 100000);
    gen.start(0.5, 2.0, false, 9);
    const std::size_t n = 3 * ChannelGenerator::kBlock + 100;
    std::vector<float> whole(n), parts(n);
    gen.units(0, n, whole.data());
    // Backwards, in uneven pieces across the block boundaries, as the trigger search takes them.
    for (std::size_t end = n; end > 0;) {
        const std::size_t begin = end > 777 ? end - 777 : 0;
        gen.units(static_cast<int64_t>(begin), end - begin, parts.data() + begin);
        end = begin;
    }
    EXPECT_EQ(whole, parts);
    std::vector<uint16_t> raw(n), converted(n);
    gen.raw(0, n, raw.data());
    UnitsToRaw(whole.data(), n, converted.data());
    EXPECT_EQ(raw, converted);
}

TEST(UnitsToRawTest, MatchesVoltsToRawOnUnits) {
    // Both paths of the block conversion (eight at a time and the rest), with halves, limits and
    // values far out.
    const std::vector<float> units{0.0f,     0.5f,     1.5f,      -0.5f,    -2.5f,     100.25f,
                                   32767.0f, 32767.4f, 32767.5f,  32768.0f, -32768.0f, -32768.6f,
                                   1e30f,    -1e30f,   -12345.5f, 7.49f,    8.5f};
    std::vector<uint16_t> raw(units.size());
    UnitsToRaw(units.data(), units.size(), raw.data());
    for (std::size_t i = 0; i < units.size(); ++i) {
        EXPECT_EQ(raw[i], VoltsToRaw(units[i], 32768.0)) << units[i];
    }
}

// --- noise ------------------------------------------------------------------------------------

std::vector<float> NoiseUnits(uint64_t seed, std::size_t n, int64_t first = 0) {
    ChannelGenerator gen;
    gen.configure({.shape = Shape::Noise, .noise = 0.01}, 100000);
    gen.start(0, 4.0, false, seed);  // 0.01 V rms on 4 V: 81.92 units
    std::vector<float> v(n);
    gen.units(first, n, v.data());
    return v;
}

TEST(ChannelGeneratorNoiseTest, IsNormalWithItsRms) {
    const auto v = NoiseUnits(3, 130000);
    const double sigma = 0.01 / 4.0 * 32768.0;
    double sum = 0, sq = 0;
    std::size_t within = 0;
    for (float x : v) {
        sum += x;
        sq += double{x} * x;
        within += std::fabs(x) <= sigma;
    }
    EXPECT_NEAR(sum / v.size(), 0.0, 0.02 * sigma);
    EXPECT_NEAR(std::sqrt(sq / v.size()), sigma, 0.02 * sigma);
    EXPECT_NEAR(static_cast<double>(within) / v.size(), 0.6827, 0.01);  // one sigma either side
}

TEST(ChannelGeneratorNoiseTest, NoPatternWithinARecord) {
    // Correlation of the noise with itself shifted by `lag`, for short and long shifts up to
    // a record's length: none beyond chance.
    const auto v = NoiseUnits(5, 131072);
    const double energy = std::inner_product(v.begin(), v.end(), v.begin(), 0.0);
    for (std::size_t lag : {1, 2, 3, 5, 8, 100, 1000, 2048, 4096, 30000, 65536, 100000}) {
        const double c = std::inner_product(v.begin() + lag, v.end(), v.begin(), 0.0) / energy;
        EXPECT_LT(std::fabs(c), 0.02) << "lag " << lag;
    }
}

TEST(ChannelGeneratorNoiseTest, RepeatsOnlyAfterTheTableLength) {
    const auto a = NoiseUnits(11, 1000);
    EXPECT_EQ(a, NoiseUnits(11, 1000, ChannelGenerator::kNoiseLength));
    EXPECT_NE(a, NoiseUnits(11, 1000, ChannelGenerator::kNoiseLength - 1));
}

TEST(ChannelGeneratorNoiseTest, DeterminedByTheSeed) {
    EXPECT_EQ(NoiseUnits(7, 5000), NoiseUnits(7, 5000));
    EXPECT_NE(NoiseUnits(7, 5000), NoiseUnits(8, 5000));
    EXPECT_NE(NoiseUnits(7, 5000), NoiseUnits(9, 5000));
}

TEST(ChannelGeneratorNoiseTest, AddsToTheWaveformBeforeTheConversion) {
    InputSignal input{.shape = Shape::Sine, .frequency = 1000, .amplitude = 1.5, .noise = 0.01};
    const auto noisy = Fast(input, 100000, 0.2, false, 4.0, 0, 100000, 4);
    input.noise = 0;
    const auto clean = Fast(input, 100000, 0.2, false, 4.0, 0, 100000, 4);
    double sq = 0;
    for (std::size_t i = 0; i < noisy.size(); ++i) {
        const double d = int{noisy[i]} - int{clean[i]};
        sq += d * d;
    }
    EXPECT_NEAR(std::sqrt(sq / noisy.size()), 81.92, 2.0);
}

// --- tables follow the settings ---------------------------------------------------------------

struct ConfigureStep {
    const char* what;
    InputSignal input;
    double fs;
    bool rebuilds;
};

TEST(ChannelGeneratorTablesTest, RebuiltExactlyWhenTheSineFrequencyRatioChanges) {
    const InputSignal sine{.shape = Shape::Sine, .frequency = 1000, .amplitude = 1.5};
    InputSignal louder = sine;
    louder.amplitude = 3;
    louder.offset = 0.5;
    InputSignal higher = sine;
    higher.frequency = 2000;
    const InputSignal square{.shape = Shape::Square, .frequency = 700, .amplitude = 1};
    const InputSignal triangle{.shape = Shape::Triangle, .frequency = 1000, .amplitude = 1};
    const ConfigureStep steps[] = {
        {"first sine", sine, 100000, true},
        {"the same again", sine, 100000, false},
        {"amplitude and offset only", louder, 100000, false},
        {"sample frequency", sine, 50000, true},
        {"signal frequency", higher, 50000, true},
        {"another frequency, the same ratio", sine, 25000, false},  // 1000 / 25000 = 2000 / 50000
        {"square", square, 100000, false},
        {"triangle at the sine's ratio", triangle, 25000, false},
        {"sine at a new ratio", sine, 200000, true},
        {"square at the sine's ratio", square, 140000, false},
        {"sine again", sine, 200000, false},
        {"square at a new ratio", square, 100000, false},
        {"sine at the square's ratio, not its tables'",
         InputSignal{.shape = Shape::Sine, .frequency = 700, .amplitude = 1}, 100000, true},
    };
    ChannelGenerator gen;
    uint64_t builds = 0;
    for (const ConfigureStep& s : steps) {
        SCOPED_TRACE(s.what);
        EXPECT_EQ(gen.configure(s.input, s.fs), s.rebuilds);
        builds += s.rebuilds;
        EXPECT_EQ(gen.tableBuilds(), builds);
        // Whatever was rebuilt or kept, the samples are those of the settings in force.
        gen.start(0.75, 2.0, false, 1);
        std::vector<uint16_t> raw(3000);
        gen.raw(100, raw.size(), raw.data());
        ExpectWithinQuantisation(raw, Direct(s.input, s.fs, 0.75, false, 2.0, 100, raw.size()));
    }
}

}  // namespace
}  // namespace rv8::sim
