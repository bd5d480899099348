// The vector loop of the chart's measurements (display/Measurements.h): sums, sums of squares,
// extremes and the envelope of whole blocks of interleaved frames, in two variants of the same
// arithmetic: SSE2 (every x86-64 processor) and AVX2 (twice the frames per instruction, chosen
// at run time where the processor has it). Both give exactly the same results.
#pragma once

#include <cstdint>

#include "display/Measurements.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rv8::measure {

// What the blocks add up to, per channel (0 channel 1, 1 channel 2).
struct BlockTotals {
    int64_t sum[2] = {0, 0};
    uint64_t squares[2] = {0, 0};
    int16_t min[2] = {32767, 32767};
    int16_t max[2] = {-32768, -32768};
};

// Adds `blocks` whole blocks of kBlockFrames interleaved frames from `frames` to `totals` and
// writes each block's envelope (channel 1's smallest and largest value, then channel 2's) to
// envelope[4 b .. 4 b + 3].
enum class BlockKernel { Plain, Sse2, Avx2 };
void SumBlocks(BlockKernel kernel, const int16_t* frames, int32_t blocks, int16_t* envelope,
               BlockTotals& totals);
// The fastest kernel this processor runs.
BlockKernel BestBlockKernel();
// Whether this processor and build run `kernel`.
bool Runs(BlockKernel kernel);

#if defined(__SSE2__)
// Smallest (or largest) channel-1 and channel-2 value of the eight interleaved lanes, as the
// low and high half of lane 0.
template <bool kMax>
inline uint32_t ReducePairs(__m128i v) {
    auto pick = [](__m128i a, __m128i b) {
        return kMax ? _mm_max_epi16(a, b) : _mm_min_epi16(a, b);
    };
    v = pick(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = pick(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(v));
}
#endif

}  // namespace rv8::measure
