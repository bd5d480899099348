// The signals' texts, the conversion from volts to raw samples, and the plain generator
// SignalGenerator (the instrument's own, ChannelGenerator, is in ChannelGenerator.cpp).
#include "sim/Signal.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>
#include <vector>

#include "sim/SignalTables.h"

namespace rv8::sim {

namespace {

std::optional<double> ParseNumber(std::string_view text) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

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

}  // namespace

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

uint64_t FractionToPhase(double x) {
    if (!std::isfinite(x)) return 0;
    const double scaled = std::ldexp(x - std::floor(x), 64);
    return scaled >= 0x1p64 ? 0 : static_cast<uint64_t>(scaled);
}

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

}  // namespace rv8::sim
