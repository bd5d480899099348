#include "sim/Signal.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rv8::sim {

namespace {

std::optional<double> ParseNumber(std::string_view text) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

constexpr int kTableBits = 12;
constexpr int kTableSize = 1 << kTableBits;

// One period of the sine, with the first entry repeated at the end for the interpolation.
const std::array<double, kTableSize + 1>& SineTable() {
    static const auto table = [] {
        std::array<double, kTableSize + 1> t{};
        for (int i = 0; i <= kTableSize; ++i)
            t[i] = std::sin(2.0 * M_PI * i / kTableSize);
        return t;
    }();
    return table;
}

// The standard normal distribution's quantiles at (k + 0.5) / kTableSize: noise drawn by a
// uniform index into this table is normal to within the table's resolution (|x| < 3.5).
const std::array<double, kTableSize>& NormalTable() {
    static const auto table = [] {
        std::array<double, kTableSize> t{};
        for (int k = 0; k < kTableSize; ++k) {
            const double p = (k + 0.5) / kTableSize;
            double lo = -10.0, hi = 10.0;  // bisect 0.5 * erfc(-x / sqrt 2) = p
            for (int it = 0; it < 80; ++it) {
                const double mid = 0.5 * (lo + hi);
                (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p ? lo : hi) = mid;
            }
            t[k] = 0.5 * (lo + hi);
        }
        return t;
    }();
    return table;
}

// Fraction of `x` (0 <= f < 1) in units of 2^-64.
uint64_t FractionToPhase(double x) {
    if (!std::isfinite(x)) return 0;
    const double scaled = std::ldexp(x - std::floor(x), 64);
    return scaled >= 0x1p64 ? 0 : static_cast<uint64_t>(scaled);
}

}  // namespace

std::optional<InputSignal> ParseInputSignal(std::string_view text) {
    std::vector<std::string_view> fields;
    for (;;) {
        auto colon = text.find(':');
        fields.push_back(text.substr(0, colon));
        if (colon == std::string_view::npos) break;
        text.remove_prefix(colon + 1);
    }
    std::vector<double> numbers;
    for (std::size_t i = 1; i < fields.size(); ++i) {
        auto n = ParseNumber(fields[i]);
        if (!n) return std::nullopt;
        numbers.push_back(*n);
    }
    const std::string_view name = fields[0];
    InputSignal input;
    if (name == "sine" || name == "square" || name == "triangle") {
        input.shape = name == "sine"     ? Shape::Sine
                      : name == "square" ? Shape::Square
                                         : Shape::Triangle;
        if (numbers.size() < 2 || numbers.size() > 3) return std::nullopt;
        input.frequency = numbers[0];
        input.amplitude = numbers[1];
        if (numbers.size() == 3) input.offset = numbers[2];
        if (input.frequency < 0.0 || input.amplitude < 0.0) return std::nullopt;
    } else if (name == "noise" || name == "dc") {
        if (numbers.size() != 1) return std::nullopt;
        if (name == "noise") {
            input.shape = Shape::Noise;
            input.noise = numbers[0];
            if (input.noise < 0.0) return std::nullopt;
        } else {
            input.shape = Shape::Dc;
            input.offset = numbers[0];
        }
    } else if (name == "raw") {
        if (numbers.size() != 1 || numbers[0] < 0.0 || numbers[0] > 65535.0 ||
            numbers[0] != std::floor(numbers[0])) {
            return std::nullopt;
        }
        input.shape = Shape::Raw;
        input.raw = static_cast<uint16_t>(numbers[0]);
    } else if (name == "ramp") {
        if (!numbers.empty()) return std::nullopt;
        input.shape = Shape::Ramp;
    } else {
        return std::nullopt;
    }
    return input;
}

namespace {
// One raw sample from volts x (32768 / range). Adding and removing 1.5 x 2^52 rounds to the
// nearest whole number, halves to even, in the default rounding mode: what nearbyint() does,
// without the call, so that the block loop below vectorises.
inline uint16_t UnitsToRaw(double units) {
    constexpr double kRound = 0x1.8p52;
    units = units == units ? units : 0.0;  // NaN: mid-scale
    units = units < -32768.0 ? -32768.0 : units;
    units = units > 32767.0 ? 32767.0 : units;
    const double rounded = (units + kRound) - kRound;
    return static_cast<uint16_t>(static_cast<int32_t>(rounded) + 32768);
}
}  // namespace

uint16_t VoltsToRaw(double volts, double sensitivity) {
    if (!(sensitivity > 0.0)) return 32768;
    return UnitsToRaw(volts * (32768.0 / sensitivity));
}

void VoltsToRaw(const double* volts, std::size_t count, double sensitivity, uint16_t* raw) {
    if (!(sensitivity > 0.0)) {
        std::fill(raw, raw + count, uint16_t{32768});
        return;
    }
    const double scale = 32768.0 / sensitivity;
    for (std::size_t i = 0; i < count; ++i)
        raw[i] = UnitsToRaw(volts[i] * scale);
}

SignalGenerator::SignalGenerator(const InputSignal& input, double sampleFrequency, double startTime,
                                 bool acCoupled, uint64_t noiseSeed)
    : input_(input),
      offset_(acCoupled ? 0.0 : input.offset),
      rng_(noiseSeed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {
    if (rng_ == 0) rng_ = 1;  // xorshift's one forbidden state
    if (sampleFrequency > 0.0 && std::isfinite(sampleFrequency)) {
        phase_ = FractionToPhase(input.frequency * startTime);
        step_ = FractionToPhase(input.frequency / sampleFrequency);
    }
}

uint64_t SignalGenerator::nextRandom() {
    // xorshift64*: fast, and the same on every platform.
    rng_ ^= rng_ >> 12;
    rng_ ^= rng_ << 25;
    rng_ ^= rng_ >> 27;
    return rng_ * 0x2545F4914F6CDD1Dull;
}

void SignalGenerator::generate(double* volts, std::size_t count) {
    // One loop per shape, so that each is a tight loop over the phase accumulator.
    const double a = input_.amplitude;
    const double offset = offset_;
    uint64_t phase = phase_;
    const uint64_t step = step_;
    switch (input_.shape) {
        case Shape::Sine: {
            const double* table = SineTable().data();
            for (std::size_t i = 0; i < count; ++i, phase += step) {
                const uint64_t index = phase >> (64 - kTableBits);
                const double frac = static_cast<double>((phase << kTableBits) >> 11) * 0x1p-53;
                volts[i] = offset + a * (table[index] + (table[index + 1] - table[index]) * frac);
            }
            break;
        }
        case Shape::Square:
            for (std::size_t i = 0; i < count; ++i, phase += step) {
                volts[i] = phase < (uint64_t{1} << 63) ? offset + a : offset - a;
            }
            break;
        case Shape::Triangle:
            for (std::size_t i = 0; i < count; ++i, phase += step) {
                const double p = static_cast<double>(phase >> 11) * 0x1p-53;  // 0 .. 1
                const double unit = p < 0.25 ? 4.0 * p : p < 0.75 ? 2.0 - 4.0 * p : 4.0 * p - 4.0;
                volts[i] = offset + a * unit;
            }
            break;
        default:
            std::fill(volts, volts + count, offset);
            break;
    }
    phase_ = phase;
    if (input_.noise > 0.0) {
        // Five table indices from the 60 high bits of each random number; the ones left over
        // at the end of a call serve the next.
        const double* normal = NormalTable().data();
        const double sigma = input_.noise;
        for (std::size_t i = 0; i < count; ++i) {
            if (bitsLeft_ == 0) {
                bits_ = nextRandom() >> 4;
                bitsLeft_ = 5;
            }
            volts[i] += sigma * normal[bits_ & (kTableSize - 1)];
            bits_ >>= kTableBits;
            --bitsLeft_;
        }
    }
}

// --- the instrument's generator --------------------------------------------------------------

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
