#include "display/Spektra.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <numbers>
#include <vector>

namespace rv8 {
namespace {

constexpr int N = Spektra::kInputs;
constexpr double kPi = std::numbers::pi;

// Reference: direct DFT in double precision with the periodic Hann window and the amplitude
// scaling the component documents (2|X|/sum(w) inside, |X|/sum(w) at DC and Nyquist), limited to
// 0..32767.
std::vector<double> DirectSpectrum(const std::vector<int16_t>& x, int count = N) {
    std::vector<double> w(N);
    double sum = 0;
    for (int n = 0; n < N; ++n) {
        w[n] = 0.5 - 0.5 * std::cos(2 * kPi * n / N);
        sum += w[n];
    }
    std::vector<double> bins(Spektra::kBins);
    for (int k = 0; k < Spektra::kBins; ++k) {
        std::complex<double> acc = 0;
        for (int n = 0; n < std::min(count, N); ++n) {
            acc += x[n] * w[n] * std::polar(1.0, -2 * kPi * k * n / N);
        }
        const double scale = (k == 0 || k == N / 2) ? 1.0 : 2.0;
        bins[k] = std::clamp(scale * std::abs(acc) / sum, 0.0, 32767.0);
    }
    return bins;
}

std::vector<int16_t> Signal(const std::function<double(int)>& f) {
    std::vector<int16_t> x(N);
    for (int n = 0; n < N; ++n)
        x[n] = static_cast<int16_t>(std::lround(f(n)));
    return x;
}

void Feed(Spektra& s, const std::vector<int16_t>& x) {
    for (int n = 0; n < N; ++n)
        s.SetInput(static_cast<int16_t>(n), x[n]);
}

struct SignalCase {
    const char* name;
    std::function<double(int)> f;
    int peakBin;  // bin expected to hold the maximum, -1 for none
    double peakValue;
};

// The component computes in single precision; 0.5 raw units absolute covers its rounding on
// full-scale signals (about 1.5e-5 relative at 32767).
constexpr double kTolerance = 0.5;

TEST(Spektra, MatchesDirectDft) {
    const std::vector<SignalCase> cases = {
        {"silence", [](int) { return 0.0; }, -1, 0.0},
        {"dc 1000", [](int) { return 1000.0; }, 0, 1000.0},
        {"dc -32768 limited", [](int) { return -32768.0; }, 0, 32767.0},
        {"sine on bin 64, full scale",
         [](int n) { return 32767.0 * std::sin(2 * kPi * 64 * n / N); }, 64, 32767.0},
        {"sine on bin 5, amplitude 1000",
         [](int n) { return 1000.0 * std::cos(2 * kPi * 5 * n / N); }, 5, 1000.0},
        {"sine between bins 100 and 101",
         [](int n) { return 20000.0 * std::sin(2 * kPi * 100.5 * n / N); }, -1, 0.0},
        {"nyquist", [](int n) { return n % 2 ? -8000.0 : 8000.0; }, 512, 8000.0},
        {"two tones",
         [](int n) {
             return 10000.0 * std::sin(2 * kPi * 30 * n / N) +
                    5000.0 * std::sin(2 * kPi * 200 * n / N + 1.0);
         },
         30, 10000.0},
    };
    for (const SignalCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<int16_t> x = Signal(c.f);
        Spektra s;
        Feed(s, x);
        s.Transform(N);
        const std::vector<double> ref = DirectSpectrum(x);
        for (int k = 0; k < Spektra::kBins; ++k) {
            ASSERT_NEAR(s.BinValue(static_cast<int16_t>(k)), ref[k], kTolerance) << "bin " << k;
        }
        if (c.peakBin >= 0) {
            EXPECT_NEAR(s.BinValue(static_cast<int16_t>(c.peakBin)), c.peakValue, 1.0);
        }
    }
}

TEST(Spektra, OutOfRangeArgumentsAreHarmless) {
    Spektra s;
    const int16_t big = 12000;
    for (int16_t bad : {int16_t{-1}, int16_t{1024}, int16_t{32767}, int16_t{-32768}}) {
        s.SetInput(bad, big);  // ignored
    }
    s.Transform(N);
    for (int k = 0; k < Spektra::kBins; ++k)
        EXPECT_EQ(s.BinValue(static_cast<int16_t>(k)), 0.0);

    const std::vector<int16_t> x = Signal([](int) { return 3000.0; });
    Feed(s, x);
    // Counts outside 1..1024: inputs from `count` on are zero; nothing beyond 1024 is read.
    const std::vector<int> counts = {-5, 0, 1, 512, 1024, 1025, 32767};
    for (int count : counts) {
        SCOPED_TRACE(count);
        s.Transform(static_cast<int16_t>(count));
        const std::vector<double> ref = DirectSpectrum(x, std::max(count, 0));
        for (int k = 0; k < Spektra::kBins; ++k) {
            ASSERT_NEAR(s.BinValue(static_cast<int16_t>(k)), ref[k], kTolerance) << "bin " << k;
        }
    }
    for (int16_t bin : {int16_t{-1}, int16_t{513}, int16_t{32767}, int16_t{-32768}}) {
        EXPECT_EQ(s.BinValue(bin), 0.0) << bin;
    }
}

TEST(Spektra, InstancesAreIndependent) {
    Spektra a;
    Spektra b;
    Feed(a, Signal([](int n) { return 16000.0 * std::sin(2 * kPi * 10 * n / N); }));
    Feed(b, Signal([](int n) { return 4000.0 * std::sin(2 * kPi * 300 * n / N); }));
    a.Transform(N);
    b.Transform(N);
    EXPECT_NEAR(a.BinValue(10), 16000.0, 1.0);
    EXPECT_LT(a.BinValue(300), 1.0);
    EXPECT_NEAR(b.BinValue(300), 4000.0, 1.0);
    EXPECT_LT(b.BinValue(10), 1.0);
    // Transforming one again leaves the other's results alone.
    Feed(b, Signal([](int) { return 0.0; }));
    b.Transform(N);
    EXPECT_NEAR(a.BinValue(10), 16000.0, 1.0);
}

}  // namespace
}  // namespace rv8
