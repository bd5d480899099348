// What the two generators of sim/Signal.h share (Signal.cpp, ChannelGenerator.cpp): the table of
// normal quantiles their noise is drawn from and the 64-bit phase arithmetic.
#pragma once

#include <array>
#include <cstdint>

namespace rv8::sim {

constexpr int kTableBits = 12;
constexpr int kTableSize = 1 << kTableBits;

// The standard normal distribution's quantiles at (k + 0.5) / kTableSize: noise drawn by a
// uniform index into this table is normal to within the table's resolution (|x| < 3.5).
const std::array<double, kTableSize>& NormalTable();

// Fraction of `x` (0 <= f < 1) in units of 2^-64.
uint64_t FractionToPhase(double x);

}  // namespace rv8::sim
