// The largest line of a spectrum, free of widgets: where it lies between the bins, its
// amplitude, and whether it can be told at all (below the resolution, lost in the noise).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace rv8::measure {

// The largest line of a spectrum as the chart's spectrum component delivers it (display/Spektra.h:
// 1024 inputs, Hann window, 513 bins, bin k at k / 1024 of the sample frequency, in amplitude).
//
// Bins 0 and 1 are left out: the window spreads the DC part over them, so no line is looked for
// or placed there. A line lies between its largest bin and the larger neighbour: its position
// follows from their ratio as the Hann window's main lobe shapes it, and its amplitude is the
// largest bin's corrected by the window's response at that offset. A line whose largest bin is
// bin 2 is placed from bins 2 and 3 alone; if that puts it below 1.5 bins, where its main lobe,
// its mirror image at the negative frequency and the DC run together, it is reported as below
// the resolution, with no frequency or amplitude made up for it. A line is only reported when
// it stands clearly above the spectrum's noise floor (kPeakOverFloor times the median line) and
// above `floor` raw units.
struct SpectrumPeak {
    bool found = false;      // false: no line clearly above the noise floor
    double bin = 0.0;        // fractional bin
    double amplitude = 0.0;  // raw units
    // Found below 1.5 bins: then bin is 1 and amplitude the tallest of bins 0 to 2, where the
    // chart marks it; neither is the line's.
    bool belowResolution = false;
    // The amplitude is only a lower bound: the bins it was found in were limited to 32767 and
    // their neighbours could not tell more.
    bool atLeast = false;
};
constexpr double kPeakOverFloor = 8.0;

// From the transform's amplitudes (Spektra::amplitudes()): neither rounded nor limited.
SpectrumPeak FindSpectrumPeak(std::span<const double> amplitudes, double floor = 16);

// From the bins the window draws (rounded to whole units and limited to 32767), when the
// amplitudes are not at hand: `count` bins read at bins[k * stride]. A line that reaches 32767
// is placed from the bins beside it.
SpectrumPeak FindSpectrumPeak(const int16_t* bins, std::ptrdiff_t stride, int count,
                              double floor = 16);

}  // namespace rv8::measure
