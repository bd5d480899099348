// The largest line of a spectrum: between bins, below the resolution, beyond the stored range,
// in noise; from the spectrum component's amplitudes and from the bins the window stores.
#include "display/SpectrumPeak.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <vector>

#include "display/Spektra.h"

namespace rv8::measure {
namespace {

constexpr double kPi = std::numbers::pi;

// 1 % of full scale, the tolerance of every amplitude.
constexpr double kAmplitudeTolerance = 327.68;

// The spectrum component's bins (rounded and limited, as the display pass stores them) and lines
// (Spektra::amplitudes()) of 1024 samples f(0..1023), each rounded and limited to the 16-bit range
// as the converter does.
struct Spectrum {
    std::vector<int16_t> bins;
    std::vector<double> amplitudes;
};
Spectrum SpectrumOfSamples(const std::function<double(int)>& f) {
    Spektra s;
    for (int i = 0; i < Spektra::kInputs; ++i) {
        const int16_t v = static_cast<int16_t>(std::clamp(std::lround(f(i)), -32768L, 32767L));
        s.SetInput(static_cast<int16_t>(i), v);
    }
    s.Transform(Spektra::kInputs);
    Spectrum out;
    for (int k = 0; k < Spektra::kBins; ++k) {
        out.bins.push_back(static_cast<int16_t>(std::lround(s.BinValue(static_cast<int16_t>(k)))));
        out.amplitudes.push_back(s.amplitudes()[k]);
    }
    return out;
}

// The bins of a sine `bins` bins from 0 (its frequency over the sample frequency, times 1024) of
// amplitude `amplitude`.
std::vector<int16_t> SpectrumOf(double bins, double amplitude, double dc = 0.0) {
    return SpectrumOfSamples([&](int i) {
               return dc + amplitude * std::sin(2 * kPi * bins * i / Spektra::kInputs + 0.3);
           })
        .bins;
}

TEST(SpectrumPeak, LiesBetweenBins) {
    struct Case {
        double bins, amplitude, dc;
    };
    // 1 kHz at 500 kHz is 2.048 bins; the others cover the offsets from one bin to the next.
    for (const Case& c : std::vector<Case>{{2.048, 12288, 0},
                                           {10.5, 20000, 0},
                                           {100.25, 8000, 0},
                                           {300.9, 30000, 0},
                                           {51.0, 1000, 0},
                                           {20.3, 12288, 6000}}) {
        SCOPED_TRACE(c.bins);
        const std::vector<int16_t> bins = SpectrumOf(c.bins, c.amplitude, c.dc);
        const SpectrumPeak p = FindSpectrumPeak(bins.data(), 1, Spektra::kBins);
        ASSERT_TRUE(p.found);
        EXPECT_NEAR(p.bin, c.bins, c.bins * 0.02);
        EXPECT_NEAR(p.amplitude, c.amplitude, kAmplitudeTolerance);
    }
    // Interleaved with another channel, as the chart keeps them.
    const std::vector<int16_t> a = SpectrumOf(40.4, 10000), b = SpectrumOf(7.7, 5000);
    std::vector<int16_t> both;
    for (int k = 0; k < Spektra::kBins; ++k) {
        both.push_back(a[k]);
        both.push_back(b[k]);
    }
    EXPECT_NEAR(FindSpectrumPeak(both.data(), 2, Spektra::kBins).bin, 40.4, 0.1);
    EXPECT_NEAR(FindSpectrumPeak(both.data() + 1, 2, Spektra::kBins).bin, 7.7, 0.1);
}

TEST(SpectrumPeak, NoneInSilenceOrAtZeroFrequency) {
    const std::vector<int16_t> silence(Spektra::kBins, 0);
    EXPECT_FALSE(FindSpectrumPeak(silence.data(), 1, Spektra::kBins).found);
    const std::vector<int16_t> dc = SpectrumOf(0.0, 0.0, 20000);  // bins 0 and 1 only
    EXPECT_FALSE(FindSpectrumPeak(dc.data(), 1, Spektra::kBins).found);
    EXPECT_FALSE(FindSpectrumPeak(dc.data(), 1, 2).found);
    EXPECT_FALSE(FindSpectrumPeak(nullptr, 1, Spektra::kBins).found);
}

// Both ways of finding a peak, from the amplitudes and from the stored bins, for a table of
// signals.
struct PeakCase {
    const char* name;
    std::function<double(int)> samples;
    bool found, belowResolution;
    double bin, amplitude;  // where found above the resolution
    double binTolerance, amplitudeTolerance;
};

void CheckPeak(const PeakCase& c, const SpectrumPeak& p, const char* way) {
    SCOPED_TRACE(way);
    ASSERT_EQ(p.found, c.found) << "at bin " << p.bin << ", " << p.amplitude;
    if (!c.found) return;
    EXPECT_EQ(p.belowResolution, c.belowResolution) << "at bin " << p.bin;
    if (c.belowResolution) return;
    EXPECT_NEAR(p.bin, c.bin, c.binTolerance);
    EXPECT_NEAR(p.amplitude, c.amplitude, c.amplitudeTolerance);
}

void CheckPeaks(const std::vector<PeakCase>& cases, bool fromBins) {
    for (const PeakCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Spectrum s = SpectrumOfSamples(c.samples);
        CheckPeak(c, FindSpectrumPeak(s.amplitudes), "from the amplitudes");
        if (fromBins)
            CheckPeak(c, FindSpectrumPeak(s.bins.data(), 1, Spektra::kBins), "from the bins");
    }
}

// A sine f Hz at 100 kS/s (bin f / 97.66) of `amplitude` raw units plus `dc`, phase `phase`.
std::function<double(int)> Sine(double hz, double amplitude, double phase = 0.3, double dc = 0) {
    return [=](int i) { return dc + amplitude * std::sin(2 * kPi * hz * i / 100000.0 + phase); };
}

// At 100 kS/s a bin is 97.66 Hz: a line below 1.5 bins (146.5 Hz) cannot be told from the DC
// and its own mirror image, and is reported as below the resolution instead of at 1.5 bins
// ("146.5 Hz 0.18 V" for a 50 Hz sine of 1 V).
TEST(SpectrumPeak, LowLinesAreBelowTheResolution) {
    std::vector<PeakCase> cases;
    for (double phase : {0.0, 0.3, 1.2, 2.5, 4.0}) {
        for (double hz : {50.0, 100.0, 140.0}) {
            cases.push_back({"low sine", Sine(hz, 8192, phase), true, true, 0, 0, 0, 0});
            cases.push_back(
                {"low sine on DC", Sine(hz, 8192, phase, 4096), true, true, 0, 0, 0, 0});
        }
        // Above 1.5 bins: found where they are, also beside a DC part.
        cases.push_back({"250 Hz", Sine(250, 8192, phase), true, false, 2.56, 8192, 0.03, 120});
        cases.push_back(
            {"250 Hz on DC", Sine(250, 8192, phase, 4096), true, false, 2.56, 8192, 0.03, 120});
        cases.push_back({"1 kHz", Sine(1000, 8192, phase), true, false, 10.24, 8192, 0.01, 50});
    }
    CheckPeaks(cases, true);
}

// A line above 32767 (a 3.9 V square on the 4 V range has a 4.97 V fundamental; a clipped sine)
// is found where it is and as large as it is, not where the limited bins put it.
TEST(SpectrumPeak, LinesBeyondTheStoredRangeKeepTheirPlace) {
    const double square = 3.9 / 4 * 32768;
    auto squareWave = [&](int i) {
        return std::fmod(i * 1000 / 100000.0, 1.0) < 0.5 ? square : -square;
    };
    auto clippedSine = Sine(1000, 1.5 / 0.8 * 32768, 0.7);  // 1.5 V on the 0.8 V range
    const std::vector<PeakCase> cases = {
        {"square's fundamental", squareWave, true, false, 10.24, 4 / kPi * square, 0.01, 330},
        {"clipped sine", clippedSine, true, false, 10.24, 39000, 0.01, 2000},
    };
    CheckPeaks(cases, true);
}

// Noise has no line of its own: none is labelled, whatever bin happens to be largest. A line
// clearly above it is.
TEST(SpectrumPeak, NoneInNoise) {
    std::vector<PeakCase> cases;
    for (uint64_t seed = 1; seed <= 12; ++seed) {
        auto noise = [seed](int i) {
            uint64_t s =
                (seed * 0x9E3779B97F4A7C15ull) ^ (static_cast<uint64_t>(i) * 0xBF58476D1CE4E5B9ull);
            s ^= s >> 31;
            s *= 0x94D049BB133111EBull;
            s ^= s >> 29;
            return (static_cast<double>(s >> 11) * 0x1p-53 - 0.5) * 20000.0;
        };
        cases.push_back({"noise", noise, false, false, 0, 0, 0, 0});
        auto toneInNoise = [noise](int i) { return noise(i) + Sine(3000, 8000)(i); };
        cases.push_back({"tone in noise", toneInNoise, true, false, 30.72, 8000, 0.1, 1000});
    }
    CheckPeaks(cases, true);
}

}  // namespace
}  // namespace rv8::measure
