#include "display/SpectrumPeak.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace rv8::measure {

namespace {

constexpr double kLimit = 32767.0;  // the largest bin the window stores
constexpr int kFirstLine = 2;       // bins 0 and 1 hold the DC part

// The periodic Hann window's response to a tone d bins away, relative to its centre:
// W(d) = sinc(d) / (1 - d^2), 0.5 at d = 1, 0 at every whole d from 2 on.
double Hann(double d) {
    d = std::fabs(d);
    if (d < 1e-9) return 1.0;
    if (std::fabs(d - 1.0) < 1e-9) return 0.5;
    const double pd = std::numbers::pi * d;
    return std::sin(pd) / pd / (1.0 - d * d);
}

// Where in [lo, hi] a tone lies whose main lobe gives bins kL < kR the amplitudes aL and aR.
// Within 2 bins of both (the main lobe), W(p - kL) / W(kR - p) falls as p grows, so halving the
// interval finds where it equals aL / aR.
double PlaceBetween(int kL, int kR, double aL, double aR, double lo, double hi) {
    for (int i = 0; i < 50; ++i) {
        const double p = 0.5 * (lo + hi);
        if (aL * Hann(kR - p) > aR * Hann(p - kL)) {
            hi = p;
        } else {
            lo = p;
        }
    }
    return 0.5 * (lo + hi);
}

// The search on line amplitudes a(0..count-1) (a function of the bin); with `fromBins` the bins
// at kLimit were cut there.
template <typename Amplitudes>
SpectrumPeak Search(const Amplitudes& a, int count, bool fromBins, double floor) {
    SpectrumPeak peak;
    if (count < kFirstLine + 2) return peak;
    auto limited = [&](int k) { return fromBins && a(k) >= kLimit; };
    int best = kFirstLine;
    for (int k = kFirstLine + 1; k < count; ++k) {
        if (a(k) > a(best)) best = k;
    }
    const double b = a(best);
    if (b < floor || b <= 0.0) return peak;
    // The noise floor is the median line (a tone and its harmonics take few bins): the peak
    // stands kPeakOverFloor times above it when more than half the lines lie below that.
    int below = 0;
    for (int k = kFirstLine; k < count; ++k)
        below += a(k) * kPeakOverFloor < b;
    if (2 * below <= count - kFirstLine) return peak;
    peak.found = true;
    if (limited(best)) {
        // Cut at the top: placed from the first bins beside the cut ones, where the main lobe
        // reaches them (at most two bins cut).
        int k0 = best, k1 = best;
        while (k0 > kFirstLine && limited(k0 - 1))
            --k0;
        while (k1 + 1 < count && limited(k1 + 1))
            ++k1;
        const int kL = k0 - 1, kR = k1 + 1;
        peak.atLeast = true;
        peak.amplitude = kLimit;
        peak.bin = 0.5 * (k0 + k1);
        if (kL >= kFirstLine && kR < count && kR - kL <= 3 && a(kL) > 0 && a(kR) > 0) {
            peak.bin =
                PlaceBetween(kL, kR, a(kL), a(kR), std::max(kL, kR - 2), std::min(kR, kL + 2));
            const int nearer = peak.bin - kL < kR - peak.bin ? kL : kR;
            const double w = Hann(peak.bin - nearer);
            if (w > 0.05) {
                peak.amplitude = std::max(kLimit, a(nearer) / w);
                peak.atLeast = false;
            }
        }
    } else if (best == kFirstLine) {
        // The lowest line bin: placed from it and the next one alone, anywhere from 1 to 3 bins
        // (neither holds any of the DC; a line below 1.5 bins shows as bin 2 far above bin 3).
        peak.bin = PlaceBetween(kFirstLine, kFirstLine + 1, b, a(kFirstLine + 1), 1.0, 3.0);
        peak.amplitude = b / Hann(peak.bin - kFirstLine);
    } else {
        // For a tone delta bins from bin k, the Hann window puts W(delta) into bin k and
        // W(1 - delta) into its neighbour; their ratio r = (1 + delta) / (2 - delta) gives
        // delta = (2r - 1) / (r + 1).
        const double left = a(best - 1);
        const double right = best + 1 < count ? a(best + 1) : 0.0;
        const bool toRight = right >= left;
        const double r = (toRight ? right : left) / b;
        const double delta = std::clamp((2.0 * r - 1.0) / (r + 1.0), 0.0, 0.5);
        peak.bin = best + (toRight ? delta : -delta);
        peak.amplitude = b / Hann(delta);
    }
    if (peak.bin < 1.5) {
        // Marked over the lowest bins, as high as the tallest of them is drawn.
        peak.belowResolution = true;
        peak.atLeast = false;
        peak.bin = 1.0;
        peak.amplitude = std::max({a(0), a(1), a(2)});
    }
    return peak;
}

}  // namespace

SpectrumPeak FindSpectrumPeak(std::span<const double> amplitudes, double floor) {
    return Search([&](int k) { return amplitudes[static_cast<std::size_t>(k)]; },
                  static_cast<int>(amplitudes.size()), false, floor);
}

SpectrumPeak FindSpectrumPeak(const int16_t* bins, std::ptrdiff_t stride, int count, double floor) {
    if (bins == nullptr) return SpectrumPeak{};
    return Search([&](int k) { return static_cast<double>(bins[k * stride]); }, count, true, floor);
}

}  // namespace rv8::measure
