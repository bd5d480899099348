// Spektra: the amplitude spectrum of 1024 signed samples, 513 bins from frequency 0 to half
// the sample frequency. One instance per channel; the transform is planned once and reused.
#pragma once

#include <array>
#include <cstdint>

namespace rv8 {

class Spektra {
  public:
    static constexpr int kInputs = 1024;
    static constexpr int kBins = kInputs / 2 + 1;

    Spektra();
    virtual ~Spektra();
    Spektra(const Spektra&) = delete;
    Spektra& operator=(const Spektra&) = delete;

    // Virtual so that the display pass can be tested against a stand-in that records its inputs
    // and chooses its bin values.
    // Stores `sample` as input number `index` (0..1023); other indices are ignored.
    virtual void SetInput(int16_t index, const int16_t& sample);
    // Computes the spectrum of inputs 0..count-1 (count is 1024; inputs beyond count count as 0).
    virtual void Transform(int16_t count);
    // Value of bin 0..512 after Transform, in the chart's raw units (see Spektra.cpp for the
    // scaling), limited to the 16-bit range; other bins give 0.
    virtual double BinValue(int16_t bin) const;

    // The bins after Transform, neither rounded nor limited: amplitudes in raw units as
    // BinValue scales them, which may exceed 32767. The chart finds the spectrum's peak on them
    // (display/SpectrumPeak.h).
    const std::array<double, kBins>& amplitudes() const { return amplitudes_; }

  private:
    struct Plan;
    Plan* plan_;
    std::array<float, kInputs> input_{};
    std::array<double, kBins> bins_{};
    std::array<double, kBins> amplitudes_{};
};

}  // namespace rv8
