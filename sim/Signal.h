// The simulated instrument's input signals, shared with the tests and benchmarks: a signal per
// channel described by a short text, a generator that samples it without a sin() call per sample,
// and the conversion from volts to raw samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

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

// Samples an analog signal at `sampleFrequency` from `startTime` (seconds) on: a phase
// accumulator into an interpolated sine table, and noise from a table of normal quantiles indexed
// by a xorshift generator, so that a 130000-sample
// record costs well under a millisecond. The same arguments give the same samples.
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

}  // namespace rv8::sim
