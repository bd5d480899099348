// Test signals shared by the benchmarks: deterministic, so every run measures the same work.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace rv8::bench {

// xorshift64: fast and deterministic.
class Random {
  public:
    explicit Random(uint64_t seed) : s_(seed | 1) {}
    uint64_t next() {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 7;
        s_ ^= s_ << 17;
        return s_;
    }

  private:
    uint64_t s_;
};

enum class Signal { Sine, Noise };

// `frames` interleaved frames of two channels. Sine: 100 frames per period at 80% of full scale
// (the simulated instrument's 1 kHz at 100 kHz), channel 2 at a quarter of the frequency.
// Noise: uniform over the whole signed 16-bit range on both channels.
inline std::vector<int16_t> MakeFrames(Signal signal, int frames) {
    std::vector<int16_t> v(2 * static_cast<std::size_t>(frames));
    Random rng(0x9E3779B97F4A7C15ull);
    for (int i = 0; i < frames; ++i) {
        if (signal == Signal::Sine) {
            const double t = 2.0 * std::numbers::pi * i / 100.0;
            v[2 * i] = static_cast<int16_t>(std::lround(26000.0 * std::sin(t)));
            v[2 * i + 1] = static_cast<int16_t>(std::lround(20000.0 * std::sin(t / 4.0)));
        } else {
            const uint64_t r = rng.next();
            v[2 * i] = static_cast<int16_t>(r & 0xFFFF);
            v[2 * i + 1] = static_cast<int16_t>((r >> 16) & 0xFFFF);
        }
    }
    return v;
}

}  // namespace rv8::bench
