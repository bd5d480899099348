#include "display/Measurements.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "display/MeasureBlocks.h"

namespace rv8::measure {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = std::numbers::pi;

enum class Shape { Sine, Square, Triangle, Dc, Noise };

// One channel of a generated signal: `period` frames per period, amplitude and offset in raw
// units, optional Gaussian-like noise (sum of uniforms) of `noise` units rms; clipped to the
// 16-bit range as the converter clips.
std::vector<int16_t> Generate(Shape shape, int frames, double period, double amplitude,
                              double offset = 0.0, double noise = 0.0, uint64_t seed = 1) {
    std::vector<int16_t> v(static_cast<std::size_t>(frames));
    uint64_t s = seed * 0x9E3779B97F4A7C15ull + 1;
    auto uniform = [&] {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return static_cast<double>(s >> 11) * 0x1p-53 - 0.5;  // -0.5 .. 0.5, variance 1/12
    };
    for (int i = 0; i < frames; ++i) {
        const double p = std::fmod(i / period, 1.0);
        double x = 0.0;
        switch (shape) {
            case Shape::Sine:
                x = std::sin(2 * kPi * p);
                break;
            case Shape::Square:
                x = p < 0.5 ? 1.0 : -1.0;
                break;
            case Shape::Triangle:
                x = p < 0.25 ? 4 * p : p < 0.75 ? 2 - 4 * p : 4 * p - 4;
                break;
            case Shape::Dc:
                x = 0.0;
                break;
            case Shape::Noise:
                x = 2.0 * uniform();  // uniform over the whole amplitude
                break;
        }
        double y = offset + amplitude * x;
        if (noise > 0)
            y += noise * (uniform() + uniform() + uniform() + uniform()) * std::sqrt(3.0);
        v[i] = static_cast<int16_t>(std::clamp(std::lround(y), -32768L, 32767L));
    }
    return v;
}

struct Case {
    const char* name;
    Shape shape;
    int frames;
    double period;  // frames per period of the signal
    double amplitude, offset, noise;
    // Expected: the period (NaN: none), extremes, mean and rms in raw units.
    double expectPeriod;
    double min, max, mean, rms;
    bool overRange;
};

// 1 % of full scale, the tolerance of every amplitude.
constexpr double kAmplitudeTolerance = 327.68;

const Case kCases[] = {
    {"Sine", Shape::Sine, 4096, 100, 12288, 0, 0, 100, -12288, 12288, 0, 12288 / std::sqrt(2.0),
     false},
    {"SineBetweenSamples", Shape::Sine, 130000, 97.3, 20000, 0, 0, 97.3, -20000, 20000, 0,
     20000 / std::sqrt(2.0), false},
    {"NoisySine", Shape::Sine, 4096, 100, 12288, 0, 80, 100, -12288, 12288, 0,
     std::sqrt(12288.0 * 12288 / 2 + 80 * 80), false},
    {"SquareWithOffset", Shape::Square, 130000, 400, 12288, 4096, 0, 400, 4096 - 12288,
     4096 + 12288, 4096, std::sqrt(12288.0 * 12288 + 4096.0 * 4096), false},
    {"Triangle", Shape::Triangle, 20000, 250, 30000, 0, 0, 250, -30000, 30000, 0,
     30000 / std::sqrt(3.0), false},
    {"FastSine", Shape::Sine, 10000, 7.7, 16000, 0, 0, 7.7, -16000, 16000, 0,
     16000 / std::sqrt(2.0), false},
    {"Dc", Shape::Dc, 4096, 100, 0, 1000, 0, kNaN, 1000, 1000, 1000, 1000, false},
    {"NegativeDcAtTheBottom", Shape::Dc, 777, 100, 0, -32768, 0, kNaN, -32768, -32768, -32768,
     32768, true},
    {"Noise", Shape::Noise, 65536, 100, 32000, 0, 0, kNaN, -32000, 32000, 0, 32000 / std::sqrt(3.0),
     false},
    {"ClippedSine", Shape::Sine, 8192, 100, 40000, 0, 0, 100, -32768, 32767, 0, 25838, true},
    {"TooFewPeriods", Shape::Sine, 1500, 1000, 12288, 0, 0, kNaN, -12288, 12288, 2608, 8689, false},
    {"TwoPeriodsAreEnough", Shape::Sine, 320, 100, 12288, 0, 0, 100, -12288, 12288, 0, 8900, false},
    {"OneFrame", Shape::Dc, 1, 100, 0, 5, 0, kNaN, 5, 5, 5, 5, false},
    {"ShortTail", Shape::Square, 33, 8, 1000, 0, 0, 8, -1000, 1000, 30, 1000, false},
    // 250 Hz in 8.19 ms at 100 kS/s: 2.05 periods, two rising crossings, one whole period.
    {"OnePeriodIsEnough", Shape::Square, 819, 400, 12288, 0, 0, 400, -12288, 12288, 15, 12288,
     false},
};

class MeasureTable : public ::testing::TestWithParam<Case> {};

void Check(const Case& c, const ChannelMeasurement& m, bool checkMeanRms) {
    EXPECT_EQ(m.frames, c.frames);
    EXPECT_NEAR(m.min, c.min, kAmplitudeTolerance);
    EXPECT_NEAR(m.max, c.max, kAmplitudeTolerance);
    EXPECT_EQ(m.overRange, c.overRange);
    if (checkMeanRms) {
        EXPECT_NEAR(m.mean, c.mean, kAmplitudeTolerance);
        EXPECT_NEAR(m.rms, c.rms, kAmplitudeTolerance);
    }
    if (std::isnan(c.expectPeriod)) {
        EXPECT_FALSE(m.hasPeriod()) << m.period;
    } else {
        ASSERT_TRUE(m.hasPeriod());
        EXPECT_NEAR(m.period, c.expectPeriod, c.expectPeriod * 0.001);  // 0.1 %
    }
}

TEST_P(MeasureTable, OneChannelAtAnyStride) {
    const Case& c = GetParam();
    const std::vector<int16_t> v =
        Generate(c.shape, c.frames, c.period, c.amplitude, c.offset, c.noise);
    // Two periods and the short tail end part-way through a period: no plain mean and rms.
    const bool whole =
        std::string(c.name) != "TwoPeriodsAreEnough" && std::string(c.name) != "ShortTail";
    Check(c, MeasureChannel(v.data(), 1, c.frames), whole);
    std::vector<int16_t> spaced(3 * v.size(), 12345);
    for (std::size_t i = 0; i < v.size(); ++i)
        spaced[3 * i + 2] = v[i];
    Check(c, MeasureChannel(spaced.data() + 2, 3, c.frames), whole);
}

TEST_P(MeasureTable, BothChannelsOfABlockAgreeWithOneAtATime) {
    const Case& c = GetParam();
    const std::vector<int16_t> a =
        Generate(c.shape, c.frames, c.period, c.amplitude, c.offset, c.noise, 1);
    // Channel 2 another signal, so that a mix-up of the lanes shows.
    const std::vector<int16_t> b = Generate(Shape::Triangle, c.frames, 333, 7000, -2000, 0, 2);
    std::vector<int16_t> block(2 * a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        block[2 * i] = a[i];
        block[2 * i + 1] = b[i];
    }
    Measurer measurer;
    ChannelMeasurement m[2];
    for (int round = 0; round < 2; ++round) {  // the kept envelope gives the same result
        measurer.measure(block.data(), c.frames, m);
        for (int ch = 0; ch < 2; ++ch) {
            const ChannelMeasurement one = MeasureChannel(block.data() + ch, 2, c.frames);
            SCOPED_TRACE("channel " + std::to_string(ch + 1));
            EXPECT_EQ(m[ch].min, one.min);
            EXPECT_EQ(m[ch].max, one.max);
            EXPECT_DOUBLE_EQ(m[ch].mean, one.mean);
            EXPECT_DOUBLE_EQ(m[ch].rms, one.rms);
            EXPECT_EQ(m[ch].overRange, one.overRange);
            EXPECT_EQ(m[ch].periods, one.periods);
            EXPECT_EQ(m[ch].hasPeriod(), one.hasPeriod());
            if (one.hasPeriod()) {
                EXPECT_DOUBLE_EQ(m[ch].period, one.period);
            }
        }
    }
}

// Every vector kernel the processor runs gives what the plain loop gives, sums, squares,
// extremes and envelope alike.
void ExpectKernelsAgree(const std::vector<int16_t>& block, const std::string& what) {
    const int32_t blocks = static_cast<int32_t>(block.size() / 2 / kBlockFrames);
    std::vector<int16_t> plainEnv(4 * static_cast<std::size_t>(blocks) + 4, 7);
    BlockTotals plain;
    SumBlocks(BlockKernel::Plain, block.data(), blocks, plainEnv.data(), plain);
    for (BlockKernel k : {BlockKernel::Sse2, BlockKernel::Avx2}) {
        if (!Runs(k)) continue;
        SCOPED_TRACE(what + (k == BlockKernel::Sse2 ? " SSE2" : " AVX2"));
        std::vector<int16_t> env(plainEnv.size(), 7);
        BlockTotals t;
        SumBlocks(k, block.data(), blocks, env.data(), t);
        for (int c = 0; c < 2; ++c) {
            EXPECT_EQ(t.sum[c], plain.sum[c]);
            EXPECT_EQ(t.squares[c], plain.squares[c]);
            EXPECT_EQ(t.min[c], plain.min[c]);
            EXPECT_EQ(t.max[c], plain.max[c]);
        }
        EXPECT_EQ(env, plainEnv);  // the guard values after the last block stay too
    }
}

TEST_P(MeasureTable, EveryBlockKernelAgreesWithThePlainLoop) {
    const Case& c = GetParam();
    const std::vector<int16_t> a =
        Generate(c.shape, c.frames, c.period, c.amplitude, c.offset, c.noise, 1);
    const std::vector<int16_t> b = Generate(Shape::Square, c.frames, 64, 32767, 0, 3000, 2);
    std::vector<int16_t> block(2 * a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        block[2 * i] = a[i];
        block[2 * i + 1] = b[i];
    }
    ExpectKernelsAgree(block, c.name);
}

INSTANTIATE_TEST_SUITE_P(Signals, MeasureTable, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Mean and rms over the whole periods: the same for every acquisition of a periodic signal,
// wherever in a period its record starts and ends (the record's own mean and rms are not).
TEST(Measurements, MeanAndRmsOverWholePeriodsDoNotDependOnTheStart) {
    struct Cycles {
        const char* name;
        Shape shape;
        int frames;
        double period, amplitude, offset;
        double mean, rms;  // of the signal, raw units
    };
    // A square of 1 V around 0.5 V on the 4 V range: 0.500 V and 1.118 V.
    const Cycles cases[] = {
        {"SquareWithOffset", Shape::Square, 4096, 300.3, 8192, 4096, 4096,
         std::sqrt(8192.0 * 8192 + 4096.0 * 4096)},
        {"Sine", Shape::Sine, 4096, 97.3, 12288, -2000, -2000,
         std::sqrt(12288.0 * 12288 / 2 + 2000.0 * 2000)},
        {"TriangleTwoPeriods", Shape::Triangle, 1500, 700, 20000, 3000, 3000,
         std::sqrt(20000.0 * 20000 / 3 + 3000.0 * 3000)},
        {"SquareOnePeriod", Shape::Square, 819, 400, 8192, 0, 0, 8192},
        {"LongRecord", Shape::Square, 130000, 2925.7, 8192, 4096, 4096,
         std::sqrt(8192.0 * 8192 + 4096.0 * 4096)},
    };
    // Within 5 mV on the 4 V range.
    constexpr double kTolerance = 41;
    for (const Cycles& c : cases) {
        for (double phase : {0.0, 0.13, 0.37, 0.71}) {
            SCOPED_TRACE(testing::Message() << c.name << " from phase " << phase);
            const int shift = static_cast<int>(phase * c.period);
            const std::vector<int16_t> longer =
                Generate(c.shape, c.frames + shift, c.period, c.amplitude, c.offset);
            const std::vector<int16_t> v(longer.begin() + shift, longer.end());
            const ChannelMeasurement one = MeasureChannel(v.data(), 1, c.frames);
            ASSERT_TRUE(one.hasPeriod());
            EXPECT_NEAR(one.cycleMean, c.mean, kTolerance);
            EXPECT_NEAR(one.cycleRms, c.rms, kTolerance);
            // Both channels of a block, each with its own whole periods.
            const std::vector<int16_t> other = Generate(Shape::Sine, c.frames, 61.7, 9000, 500);
            std::vector<int16_t> block;
            for (int i = 0; i < c.frames; ++i) {
                block.push_back(other[i]);
                block.push_back(v[i]);
            }
            Measurer measurer;
            ChannelMeasurement m[2];
            measurer.measure(block.data(), c.frames, m);
            EXPECT_NEAR(m[1].cycleMean, c.mean, kTolerance);
            EXPECT_NEAR(m[1].cycleRms, c.rms, kTolerance);
            EXPECT_DOUBLE_EQ(m[1].cycleMean, one.cycleMean);
            EXPECT_DOUBLE_EQ(m[1].cycleRms, one.cycleRms);
            EXPECT_NEAR(m[0].cycleMean, 500, kTolerance);
            EXPECT_NEAR(m[0].cycleRms, std::sqrt(9000.0 * 9000 / 2 + 500.0 * 500), kTolerance);
        }
    }
    // Without a period there is nothing to take whole periods of.
    const std::vector<int16_t> noise = Generate(Shape::Noise, 4096, 100, 30000);
    const ChannelMeasurement m = MeasureChannel(noise.data(), 1, 4096);
    EXPECT_FALSE(m.hasPeriod());
    EXPECT_TRUE(std::isnan(m.cycleMean));
    EXPECT_TRUE(std::isnan(m.cycleRms));
}

// Duty cycle and rise and fall times (10 % to 90 %) of periodic signals, from the whole periods.
TEST(Measurements, DutyRiseAndFall) {
    struct Wave {
        const char* name;
        double period;
        std::function<double(double)> at;  // one period, phase 0..1 -> -1..1
        double duty, rise, fall;           // frames
    };
    // A trapezoid: up in `up` of a period, high until `top`, down in `down`, low the rest.
    auto trapezoid = [](double up, double top, double down) {
        return [=](double p) {
            if (p < up) return -1 + 2 * p / up;
            if (p < top) return 1.0;
            if (p < top + down) return 1 - 2 * (p - top) / down;
            return -1.0;
        };
    };
    const Wave waves[] = {
        // A sine spends 0.2952 of a period between 10 % and 90 % each way.
        {"Sine", 1000, [](double p) { return std::sin(2 * kPi * p); }, 0.5, 295.2, 295.2},
        {"Triangle", 400, trapezoid(0.5, 0.5, 0.5), 0.5, 160, 160},
        {"Pulse", 500, trapezoid(0.02, 0.25, 0.06), 0.27, 8,
         24},  // at or above 0 from 0.01 to 0.28,
        // Whole-sample edges: a step between two samples reads 0.8 of a frame.
        {"Square", 400, [](double p) { return p < 0.5 ? 1.0 : -1.0; }, 0.5, 0.8, 0.8},
    };
    for (const Wave& c : waves) {
        for (double start : {0.0, 0.3, 0.8}) {
            SCOPED_TRACE(testing::Message() << c.name << " from " << start);
            std::vector<int16_t> v(8000);
            for (std::size_t i = 0; i < v.size(); ++i)
                v[i] = static_cast<int16_t>(
                    std::lround(20000 * c.at(std::fmod(i / c.period + start + 1e-7, 1.0))));
            const ChannelMeasurement m = MeasureChannel(v.data(), 1, 8000);
            ASSERT_TRUE(m.hasPeriod());
            EXPECT_NEAR(m.duty, c.duty, 0.004);
            EXPECT_NEAR(m.riseTime, c.rise, 0.01 * c.rise + 0.2);
            EXPECT_NEAR(m.fallTime, c.fall, 0.01 * c.fall + 0.2);
            // Channel 2 of a block: the same.
            std::vector<int16_t> block;
            for (int16_t x : v) {
                block.push_back(0);
                block.push_back(x);
            }
            Measurer measurer;
            ChannelMeasurement both[2];
            measurer.measure(block.data(), 8000, both);
            EXPECT_DOUBLE_EQ(both[1].duty, m.duty);
            EXPECT_DOUBLE_EQ(both[1].riseTime, m.riseTime);
            EXPECT_DOUBLE_EQ(both[1].fallTime, m.fallTime);
        }
    }
    // Without a period: none.
    const std::vector<int16_t> noise = Generate(Shape::Noise, 4096, 100, 30000);
    const ChannelMeasurement m = MeasureChannel(noise.data(), 1, 4096);
    EXPECT_TRUE(std::isnan(m.duty));
    EXPECT_TRUE(std::isnan(m.riseTime));
}

TEST(Measurements, ExtremeValuesDoNotOverflowTheSums) {
    // Every sample at -32768: the largest squares, over the largest record.
    const int frames = 131093;
    std::vector<int16_t> block(2 * frames, -32768);
    for (int i = 0; i < frames; ++i)
        block[2 * i + 1] = 32767;
    Measurer measurer;
    ChannelMeasurement m[2];
    measurer.measure(block.data(), frames, m);
    EXPECT_DOUBLE_EQ(m[0].mean, -32768.0);
    EXPECT_DOUBLE_EQ(m[0].rms, 32768.0);
    EXPECT_DOUBLE_EQ(m[1].mean, 32767.0);
    EXPECT_DOUBLE_EQ(m[1].rms, 32767.0);
    EXPECT_TRUE(m[0].overRange && m[1].overRange);
}

TEST(Measurements, BlockKernelsKeepTheirSumsExactOverLongRuns) {
    // 10000 blocks at the ends of the range: more than the 32-bit lanes would hold unflushed.
    struct Case {
        const char* name;
        int16_t ch1, ch2;
    };
    for (const Case& c : std::vector<Case>{
             {"Bottom", -32768, -32768}, {"Top", 32767, 32767}, {"Apart", -32768, 32767}}) {
        std::vector<int16_t> block(2 * 10000 * static_cast<std::size_t>(kBlockFrames));
        for (std::size_t i = 0; i < block.size(); i += 2) {
            block[i] = c.ch1;
            block[i + 1] = c.ch2;
        }
        ExpectKernelsAgree(block, c.name);
        BlockTotals t;
        std::vector<int16_t> env(4 * 10000);
        SumBlocks(BestBlockKernel(), block.data(), 10000, env.data(), t);
        EXPECT_EQ(t.sum[0], int64_t{c.ch1} * 320000) << c.name;
        EXPECT_EQ(t.squares[1], uint64_t(int64_t{c.ch2} * c.ch2) * 320000) << c.name;
    }
}

TEST(Measurements, NothingToMeasure) {
    Measurer measurer;
    ChannelMeasurement m[2];
    measurer.measure(nullptr, 100, m);
    EXPECT_EQ(m[0].frames, 0);
    const int16_t one[2] = {1, 2};
    measurer.measure(one, 0, m);
    EXPECT_EQ(m[1].frames, 0);
    EXPECT_EQ(MeasureChannel(one, 1, -3).frames, 0);
}

TEST(Measurements, OverRangeLooksAtEachChannel) {
    struct Case {
        int frames, at, channel;
        int16_t value;
        bool ch1, ch2;
    };
    for (const Case& c : std::vector<Case>{{512, 300, 0, 32767, true, false},
                                           {512, 511, 1, -32768, false, true},
                                           {3, 2, 1, 32767, false, true},  // no vector loop
                                           {513, 512, 0, -32768, true, false},
                                           {512, 10, 0, 32766, false, false},
                                           {0, 0, 0, 0, false, false}}) {
        std::vector<int16_t> v(2 * std::max(c.frames, 1), 0);
        v[2 * c.at + c.channel] = c.value;
        bool out[2];
        OverRange(v.data(), c.frames, out);
        EXPECT_EQ(out[0], c.ch1) << c.frames << " " << c.at;
        EXPECT_EQ(out[1], c.ch2) << c.frames << " " << c.at;
    }
}

}  // namespace
}  // namespace rv8::measure
