// The instrument's generator, ChannelGenerator (sim/Signal.h), and the conversion of its units to
// raw samples.
#include <algorithm>
#include <cmath>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "sim/Signal.h"
#include "sim/SignalTables.h"

namespace rv8::sim {

namespace {

constexpr double kTwoPi = 2.0 * M_PI;
// Units beyond this are far past full scale whatever is added to them; keeping every
// coefficient within it keeps every sum finite (no infinities, no NaN) in single precision.
constexpr double kLargestUnits = 0x1p40;

float LimitedUnits(double units) {
    if (std::isnan(units)) return 0.0f;
    return static_cast<float>(std::clamp(units, -kLargestUnits, kLargestUnits));
}

// Radians of a phase in 2^-64 periods.
double PhaseAngle(uint64_t phase) {
    return static_cast<double>(phase) * (kTwoPi * 0x1p-64);
}

// kNoiseLength samples of the standard normal distribution, in units of 1/kNoiseUnit (|x| < 3.5
// fits 16 bits, and a 256 KiB table costs half the memory traffic of floats): table indices from
// xorshift64* with a fixed seed, as SignalGenerator draws them. The same table on every run and
// every platform.
constexpr float kNoiseUnit = 8192.0f;

const std::vector<int16_t>& NoiseTable() {
    static const std::vector<int16_t> table = [] {
        std::vector<int16_t> t(ChannelGenerator::kNoiseLength);
        const double* normal = NormalTable().data();
        uint64_t rng = 0x853C49E6748FEA9Bull;
        for (std::size_t i = 0; i < t.size();) {
            rng ^= rng >> 12;
            rng ^= rng << 25;
            rng ^= rng >> 27;
            uint64_t bits = (rng * 0x2545F4914F6CDD1Dull) >> 4;
            for (int k = 0; k < 5 && i < t.size(); ++k, ++i, bits >>= kTableBits)
                t[i] =
                    static_cast<int16_t>(std::lrint(normal[bits & (kTableSize - 1)] * kNoiseUnit));
        }
        return t;
    }();
    return table;
}

inline uint16_t UnitToRaw(float units) {
    units = std::clamp(units, -32768.0f, 32767.0f);
    return static_cast<uint16_t>(static_cast<int32_t>(std::nearbyint(units)) + 32768);
}

// out[i] = offset + (a x c[i] + b x s[i]): a sine over the block's table of steps.
void SineRun(const float* c, const float* s, float a, float b, float offset, std::size_t n,
             float* out) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128 va = _mm_set1_ps(a), vb = _mm_set1_ps(b), vo = _mm_set1_ps(offset);
    for (; i + 4 <= n; i += 4) {
        const __m128 t =
            _mm_add_ps(_mm_mul_ps(va, _mm_loadu_ps(c + i)), _mm_mul_ps(vb, _mm_loadu_ps(s + i)));
        _mm_storeu_ps(out + i, _mm_add_ps(vo, t));
    }
#endif
    for (; i < n; ++i)
        out[i] = offset + (a * c[i] + b * s[i]);
}

// Square (high for the first half of the period) or triangle from the high 32 bits of each
// sample's 64-bit phase, phase + i x step.
template <bool kSquare>
void PhaseRun(uint64_t phase, uint64_t step, float offset, float amplitude, std::size_t n,
              float* out) {
    const float high = offset + amplitude, low = offset - amplitude;
    const float slope = amplitude * 0x1p-30f;  // the triangle falls by this per 2^-32 period
    std::size_t i = 0;
#if defined(__SSE2__)
    __m128i p01 = _mm_set_epi64x(static_cast<int64_t>(phase + step), static_cast<int64_t>(phase));
    __m128i p23 = _mm_add_epi64(p01, _mm_set1_epi64x(static_cast<int64_t>(2 * step)));
    const __m128i advance = _mm_set1_epi64x(static_cast<int64_t>(4 * step));
    const __m128 vHigh = _mm_set1_ps(high), vLow = _mm_set1_ps(low), vSlope = _mm_set1_ps(slope);
    const __m128i quarter = _mm_set1_epi32(1 << 30);
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    for (; i + 4 <= n; i += 4) {
        // The high halves of the four phases, in order.
        const __m128i hi = _mm_castps_si128(
            _mm_shuffle_ps(_mm_castsi128_ps(p01), _mm_castsi128_ps(p23), _MM_SHUFFLE(3, 1, 3, 1)));
        __m128 v;
        if constexpr (kSquare) {
            const __m128 second = _mm_castsi128_ps(_mm_srai_epi32(hi, 31));
            v = _mm_or_ps(_mm_and_ps(second, vLow), _mm_andnot_ps(second, vHigh));
        } else {
            const __m128 d = _mm_and_ps(_mm_cvtepi32_ps(_mm_sub_epi32(hi, quarter)), magnitude);
            v = _mm_sub_ps(vHigh, _mm_mul_ps(d, vSlope));
        }
        _mm_storeu_ps(out + i, v);
        p01 = _mm_add_epi64(p01, advance);
        p23 = _mm_add_epi64(p23, advance);
    }
#endif
    for (; i < n; ++i) {
        const uint32_t hi = static_cast<uint32_t>((phase + i * step) >> 32);
        if constexpr (kSquare) {
            out[i] = hi < 0x80000000u ? high : low;
        } else {
            // Distance from the positive peak at a quarter period, in 2^-32 periods.
            const float d = std::fabs(static_cast<float>(static_cast<int32_t>(hi - (1u << 30))));
            out[i] = high - d * slope;
        }
    }
}

// out[i] += scale x noise[i].
void AddNoise(const int16_t* noise, float scale, std::size_t n, float* out) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128 vs = _mm_set1_ps(scale);
    for (; i + 8 <= n; i += 8) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(noise + i));
        // Sign-extended to 32 bits: each 16-bit value into the high half, shifted back down.
        const __m128 lo = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16));
        const __m128 hi = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(x, x), 16));
        _mm_storeu_ps(out + i, _mm_add_ps(_mm_loadu_ps(out + i), _mm_mul_ps(vs, lo)));
        _mm_storeu_ps(out + i + 4, _mm_add_ps(_mm_loadu_ps(out + i + 4), _mm_mul_ps(vs, hi)));
    }
#endif
    for (; i < n; ++i)
        out[i] += scale * static_cast<float>(noise[i]);
}

}  // namespace

void UnitsToRaw(const float* units, std::size_t count, uint16_t* raw) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // Packing with signed saturation needs no limits: only the conversion does (a float beyond
    // the int32 range converts to INT32_MIN).
    const __m128 lo = _mm_set1_ps(-32768.0f), hi = _mm_set1_ps(32767.0f);
    const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
    for (; i + 8 <= count; i += 8) {
        const __m128 a = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(units + i), lo), hi);
        const __m128 b = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(units + i + 4), lo), hi);
        // Rounds to the nearest, halves to even, in the default rounding mode.
        const __m128i packed = _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(raw + i), _mm_xor_si128(packed, flip));
    }
#endif
    for (; i < count; ++i)
        raw[i] = UnitToRaw(units[i]);
}

bool ChannelGenerator::configure(const InputSignal& input, double sampleFrequency) {
    const bool clocked = sampleFrequency > 0.0 && std::isfinite(sampleFrequency);
    const uint64_t step = clocked ? FractionToPhase(input.frequency / sampleFrequency) : 0;
    const bool rebuild = input.shape == Shape::Sine && (cosStep_.empty() || step != tableStep_);
    input_ = input;
    sampleFrequency_ = sampleFrequency;
    step_ = step;
    if (!rebuild) return false;
    tableStep_ = step;
    // cos and sin of k steps: exactly every 64 steps, rotated by one step in between (in double
    // precision, far below single precision's resolution).
    cosStep_.resize(kBlock);
    sinStep_.resize(kBlock);
    const double cw = std::cos(PhaseAngle(step)), sw = std::sin(PhaseAngle(step));
    double c = 1.0, s = 0.0;
    for (int k = 0; k < kBlock; ++k) {
        if (k % 64 == 0) {
            const double a = PhaseAngle(static_cast<uint64_t>(k) * step);
            c = std::cos(a);
            s = std::sin(a);
        } else {
            const double next = c * cw - s * sw;
            s = s * cw + c * sw;
            c = next;
        }
        cosStep_[k] = static_cast<float>(c);
        sinStep_[k] = static_cast<float>(s);
    }
    ++tableBuilds_;
    return true;
}

void ChannelGenerator::start(double startTime, double sensitivity, bool acCoupled,
                             uint64_t noiseSeed) {
    converts_ = sensitivity > 0.0 && std::isfinite(sensitivity);
    unitsPerVolt_ = converts_ ? 32768.0 / sensitivity : 1.0;
    const bool clocked = sampleFrequency_ > 0.0 && std::isfinite(sampleFrequency_);
    phase0_ = clocked ? FractionToPhase(input_.frequency * startTime) : 0;
    offset_ = LimitedUnits((acCoupled ? 0.0 : input_.offset) * unitsPerVolt_);
    amplitude_ = LimitedUnits(input_.amplitude * unitsPerVolt_);
    noise_ = LimitedUnits(input_.noise * unitsPerVolt_);
    if (input_.shape == Shape::Dc || input_.shape == Shape::Noise) amplitude_ = 0.0f;
    uint64_t rng = noiseSeed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull;
    rng ^= rng >> 12;
    rng ^= rng << 25;
    rng ^= rng >> 27;
    noiseStart_ = static_cast<uint32_t>((rng * 0x2545F4914F6CDD1Dull) >> 40) & (kNoiseLength - 1);
}

void ChannelGenerator::waveform(uint64_t phase, std::size_t from, std::size_t count,
                                float* out) const {
    switch (input_.shape) {
        case Shape::Sine: {
            // sin(a + b) x amplitude = (amplitude sin a) cos b + (amplitude cos a) sin b.
            const double a = PhaseAngle(phase);
            const float ca = static_cast<float>(amplitude_ * std::sin(a));
            const float sa = static_cast<float>(amplitude_ * std::cos(a));
            SineRun(cosStep_.data() + from, sinStep_.data() + from, ca, sa, offset_, count, out);
            break;
        }
        case Shape::Square:
            PhaseRun<true>(phase + from * step_, step_, offset_, amplitude_, count, out);
            break;
        case Shape::Triangle:
            PhaseRun<false>(phase + from * step_, step_, offset_, amplitude_, count, out);
            break;
        default:
            std::fill(out, out + count, offset_);
            break;
    }
}

void ChannelGenerator::units(int64_t first, std::size_t count, float* out) const {
    const int16_t* noise = noise_ != 0.0f ? NoiseTable().data() : nullptr;
    const float scale = noise_ / kNoiseUnit;
    uint64_t j = static_cast<uint64_t>(first);
    while (count > 0) {
        const uint64_t block = j / kBlock;
        const std::size_t from = static_cast<std::size_t>(j % kBlock);
        const std::size_t n = std::min<std::size_t>(count, kBlock - from);
        waveform(phase0_ + block * kBlock * step_, from, n, out);
        for (std::size_t done = 0; noise && done < n;) {
            const std::size_t at =
                static_cast<std::size_t>((noiseStart_ + j + done) & (kNoiseLength - 1));
            const std::size_t m = std::min<std::size_t>(n - done, kNoiseLength - at);
            AddNoise(noise + at, scale, m, out + done);
            done += m;
        }
        j += n;
        out += n;
        count -= n;
    }
}

void ChannelGenerator::raw(int64_t first, std::size_t count, uint16_t* out) const {
    if (!converts_) {
        std::fill(out, out + count, uint16_t{32768});
        return;
    }
    alignas(16) float buffer[kBlock];
    while (count > 0) {
        // Whole blocks where possible, so that each block's phase is worked out once.
        const std::size_t n = std::min<std::size_t>(
            count, kBlock - static_cast<std::size_t>(static_cast<uint64_t>(first) % kBlock));
        units(first, n, buffer);
        UnitsToRaw(buffer, n, out);
        first += static_cast<int64_t>(n);
        out += n;
        count -= n;
    }
}

}  // namespace rv8::sim
