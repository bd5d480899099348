// The simulated instrument's input signals, shared with the tests and benchmarks: a signal per
// channel described by a short text, the generator the instrument samples it with (raw samples at
// about the speed of a memory copy), a plain generator of the same signals in volts, and the
// conversion from volts to raw samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace rv8::sim {

enum class Shape {
    Sine,      // sine:HZ:VOLTS[:OFFSET]      amplitude VOLTS (peak) around OFFSET
    Square,    // square:HZ:VOLTS[:OFFSET]    high for the first half of each period
    Triangle,  // triangle:HZ:VOLTS[:OFFSET]  rising through OFFSET at the period's start
    Noise,     // noise:VOLTS                 VOLTS rms around 0
    Dc,        // dc:VOLTS                    a constant level (all of it DC, so AC removes it)
    Raw,       // raw:N                       every sample the raw value N
    Ramp,      // ramp                        sample i of each record the raw value i mod 65536
};

struct InputSignal {
    Shape shape = Shape::Sine;
    double frequency = 0.0;  // Hz
    double amplitude = 0.0;  // V peak; rms for Noise
    double offset = 0.0;     // V, the signal's DC part
    double noise = 0.0;      // V rms of noise added to the waveform
    uint16_t raw = 32768;    // the value of Raw

    // Raw and Ramp give raw values directly: no sensitivity, coupling or noise applies.
    bool analog() const { return shape != Shape::Raw && shape != Shape::Ramp; }
    bool operator==(const InputSignal&) const = default;
};

// Parses the texts listed with Shape. Nothing on an unknown shape, a wrong number of fields,
// a number that is not finite, a negative frequency or amplitude, or a raw value outside 0..65535.
std::optional<InputSignal> ParseInputSignal(std::string_view text);

// Volts to a raw sample on a channel whose full-scale range is `sensitivity` volts:
// volts / sensitivity x 32768 + 32768, rounded to the nearest value (halves to even) and limited
// to 0..65535, as the converter clips at full scale. A range that is not positive (or NaN) and a
// NaN input give mid-scale, 32768.
uint16_t VoltsToRaw(double volts, double sensitivity);
void VoltsToRaw(const double* volts, std::size_t count, double sensitivity, uint16_t* raw);

// Samples an analog signal at `sampleFrequency` from `startTime` (seconds) on, in volts, one
// sample after the other: a phase accumulator into an interpolated sine table, and noise from a
// table of normal quantiles indexed by a xorshift generator. The same arguments give the same
// samples. The instrument itself measures with ChannelGenerator (below), which has the same
// waveforms to within a fraction of a raw unit; this one is the plain form the tests check it by.
class SignalGenerator {
  public:
    SignalGenerator(const InputSignal& input, double sampleFrequency, double startTime,
                    bool acCoupled, uint64_t noiseSeed);

    // The next `count` samples, in volts.
    void generate(double* volts, std::size_t count);

  private:
    uint64_t nextRandom();

    InputSignal input_;
    double offset_;
    uint64_t phase_ = 0;  // fraction of a period, in units of 2^-64
    uint64_t step_ = 0;   // phase advance per sample
    uint64_t rng_;
    uint64_t bits_ = 0;  // random bits not yet used
    int bitsLeft_ = 0;   // table indices left in bits_
};

// Units, volts x 32768 / range, to raw samples: limited to -32768..32767, rounded to the nearest
// value (halves to even), plus 32768. What VoltsToRaw does to volts x (32768 / range), in single
// precision, eight samples at a time where SSE2 is available. The units must not be NaN.
void UnitsToRaw(const float* units, std::size_t count, uint16_t* raw);

// How the instrument samples an analog input signal (not Raw or Ramp): a stream of samples, sample
// j at startTime + j / sampleFrequency, that any stretch of can be taken in any order, as units
// (what the trigger comparator sees) or as raw samples (what the converter delivers).
//
// - The stream is made of blocks of kBlock samples. For each block the signal's phase at its
//   first sample comes from the same 64-bit phase accumulator as SignalGenerator's; a sine is then
//   sin(a + b) = sin a cos b + cos a sin b over a table of cos b and sin b for the block's kBlock
//   sample steps, and a square or triangle wave a function of the high 32 bits of the sample's
//   phase. No transcendental function and no division per sample.
// - Noise is read from a table of kNoiseLength normal samples (made once, the same on every run),
//   from a place chosen by the noise seed: it repeats after kNoiseLength samples, so never within
//   one record.
// - A sample is the same whichever call computes it: the trigger search and the record agree.
//
// The tables depend on the signal's frequency and the sample frequency only; configure() rebuilds
// them when one of the two changes, and start() (range, coupling, time, seed) costs nothing.
class ChannelGenerator {
  public:
    static constexpr int kBlock = 2048;
    static constexpr int kNoiseLength = 1 << 17;

    // The signal and the sample frequency of the streams that follow. Returns whether the tables
    // had to be rebuilt.
    bool configure(const InputSignal& input, double sampleFrequency);
    // A new stream: sample 0 at `startTime` seconds, on a channel of range `sensitivity` volts
    // full scale, AC-coupled or not, with noise from `noiseSeed`.
    void start(double startTime, double sensitivity, bool acCoupled, uint64_t noiseSeed);

    // Whether the range converts volts to raw samples (positive and finite). Otherwise units are
    // plain volts and every raw sample is mid-scale, as VoltsToRaw has it.
    bool converts() const { return converts_; }
    // Units per volt: 32768 / range, or 1 when the range does not convert.
    double unitsPerVolt() const { return unitsPerVolt_; }

    // Samples first .. first + count - 1 of the stream, in units, neither clipped nor rounded.
    void units(int64_t first, std::size_t count, float* out) const;
    // The same samples as the converter delivers them: UnitsToRaw of units().
    void raw(int64_t first, std::size_t count, uint16_t* out) const;

    // How often configure() has built the tables.
    uint64_t tableBuilds() const { return tableBuilds_; }

  private:
    void waveform(uint64_t phase, std::size_t from, std::size_t count, float* out) const;

    InputSignal input_;
    double sampleFrequency_ = 0.0;
    uint64_t step_ = 0;  // phase advance per sample, in 2^-64 periods
    // cos and sin of k x tableStep_, k < kBlock, for a sine; empty before the first sine.
    std::vector<float> cosStep_, sinStep_;
    uint64_t tableStep_ = 0;
    uint64_t tableBuilds_ = 0;

    uint64_t phase0_ = 0;                                    // phase of sample 0
    float offset_ = 0.0f, amplitude_ = 0.0f, noise_ = 0.0f;  // in units
    uint32_t noiseStart_ = 0;                                // noise table index of sample 0
    bool converts_ = false;
    double unitsPerVolt_ = 1.0;
};

}  // namespace rv8::sim
