#include "display/MeasureBlocks.h"

#include <algorithm>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define RV8_MEASURE_AVX2 1
#include <immintrin.h>
#endif

namespace rv8::measure {

namespace {

void SumBlocksPlain(const int16_t* p, int32_t blocks, int16_t* env, BlockTotals& t) {
    for (int32_t b = 0; b < blocks; ++b) {
        for (int c = 0; c < 2; ++c) {
            int16_t lo = 32767, hi = -32768;
            for (int32_t i = b * kBlockFrames; i < (b + 1) * kBlockFrames; ++i) {
                const int16_t x = p[2 * i + c];
                t.sum[c] += x;
                t.squares[c] += static_cast<uint64_t>(int32_t{x} * int32_t{x});
                lo = std::min(lo, x);
                hi = std::max(hi, x);
            }
            env[4 * b + 2 * c] = lo;
            env[4 * b + 2 * c + 1] = hi;
            t.min[c] = std::min(t.min[c], lo);
            t.max[c] = std::max(t.max[c], hi);
        }
    }
}

// Both vector kernels share their layout. Channel 1 sits in the even 16-bit lanes, channel 2 in
// the odd ones. Unpacking two vectors against each other pairs each value with the same
// channel's value one vector on, so that one multiply-add sums (or squares and sums) two values
// of one channel into each 32-bit lane, the lanes taking turns between channel 1 and channel 2.
// Two squares are at most 2^31: an unsigned 32-bit lane holds them, and they are added into
// 64-bit lanes, channel 1's and channel 2's apart. The 32-bit sums gain at most 8 x 32768 per
// lane and block, so they are moved into 64-bit totals every 4096 blocks, well before 2^31.
constexpr int32_t kFlushBlocks = 4096;

// The extremes of a block (or of all) as ReducePairs gives them, into the envelope and totals.
#if defined(__SSE2__)
inline void Envelope(uint32_t mins, uint32_t maxs, int16_t* env) {
    env[0] = static_cast<int16_t>(mins & 0xFFFFu);
    env[1] = static_cast<int16_t>(maxs & 0xFFFFu);
    env[2] = static_cast<int16_t>(mins >> 16);
    env[3] = static_cast<int16_t>(maxs >> 16);
}

inline void Extremes(uint32_t mins, uint32_t maxs, BlockTotals& t) {
    t.min[0] = std::min(t.min[0], static_cast<int16_t>(mins & 0xFFFFu));
    t.min[1] = std::min(t.min[1], static_cast<int16_t>(mins >> 16));
    t.max[0] = std::max(t.max[0], static_cast<int16_t>(maxs & 0xFFFFu));
    t.max[1] = std::max(t.max[1], static_cast<int16_t>(maxs >> 16));
}

// 32-bit lanes taking turns between channel 1 and channel 2, into the totals.
inline void AddSums(const int32_t* lanes, int count, BlockTotals& t) {
    for (int i = 0; i < count; ++i)
        t.sum[i & 1] += lanes[i];
}

void SumBlocksSse2(const int16_t* p, int32_t blocks, int16_t* env, BlockTotals& t) {
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i low32 = _mm_set_epi32(0, -1, 0, -1);
    __m128i squares1 = _mm_setzero_si128(), squares2 = _mm_setzero_si128();  // 64-bit lanes
    __m128i sums = _mm_setzero_si128();
    __m128i lowest = _mm_set1_epi16(32767), highest = _mm_set1_epi16(-32768);
    alignas(16) int32_t lanes[4];
    for (int32_t b = 0; b < blocks; ++b) {
        // Eight values (four frames) to a vector, eight vectors to a block.
        const __m128i* q = reinterpret_cast<const __m128i*>(p + 2 * kBlockFrames * b);
        __m128i vmin = _mm_loadu_si128(q);
        __m128i vmax = vmin;
        for (int k = 0; k < 8; k += 2) {
            const __m128i v0 = _mm_loadu_si128(q + k);
            const __m128i v1 = _mm_loadu_si128(q + k + 1);
            vmin = _mm_min_epi16(vmin, _mm_min_epi16(v0, v1));
            vmax = _mm_max_epi16(vmax, _mm_max_epi16(v0, v1));
            const __m128i lo = _mm_unpacklo_epi16(v0, v1);
            const __m128i hi = _mm_unpackhi_epi16(v0, v1);
            sums = _mm_add_epi32(sums,
                                 _mm_add_epi32(_mm_madd_epi16(lo, ones), _mm_madd_epi16(hi, ones)));
            const __m128i a = _mm_madd_epi16(lo, lo);
            const __m128i c = _mm_madd_epi16(hi, hi);
            squares1 = _mm_add_epi64(
                squares1, _mm_add_epi64(_mm_and_si128(a, low32), _mm_and_si128(c, low32)));
            squares2 = _mm_add_epi64(squares2,
                                     _mm_add_epi64(_mm_srli_epi64(a, 32), _mm_srli_epi64(c, 32)));
        }
        lowest = _mm_min_epi16(lowest, vmin);
        highest = _mm_max_epi16(highest, vmax);
        Envelope(ReducePairs<false>(vmin), ReducePairs<true>(vmax), env + 4 * b);
        if ((b + 1) % kFlushBlocks == 0 || b + 1 == blocks) {
            _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sums);
            AddSums(lanes, 4, t);
            sums = _mm_setzero_si128();
        }
    }
    alignas(16) uint64_t wide[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(wide), squares1);
    t.squares[0] += wide[0] + wide[1];
    _mm_store_si128(reinterpret_cast<__m128i*>(wide), squares2);
    t.squares[1] += wide[0] + wide[1];
    if (blocks > 0) Extremes(ReducePairs<false>(lowest), ReducePairs<true>(highest), t);
}
#endif

#if defined(RV8_MEASURE_AVX2)
#define RV8_AVX2 __attribute__((target("avx2")))

// The 128-bit halves of v folded onto each other: the same channel layout in eight lanes.
RV8_AVX2 inline __m128i FoldMin(__m256i v) {
    return _mm_min_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}
RV8_AVX2 inline __m128i FoldMax(__m256i v) {
    return _mm_max_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

RV8_AVX2 void SumBlocksAvx2(const int16_t* p, int32_t blocks, int16_t* env, BlockTotals& t) {
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i low32 = _mm256_set1_epi64x(0xFFFFFFFFll);
    __m256i squares1 = _mm256_setzero_si256(), squares2 = _mm256_setzero_si256();
    __m256i sums = _mm256_setzero_si256();
    __m256i lowest = _mm256_set1_epi16(32767), highest = _mm256_set1_epi16(-32768);
    alignas(32) int32_t lanes[8];
    for (int32_t b = 0; b < blocks; ++b) {
        // Sixteen values (eight frames) to a vector, four vectors to a block.
        const __m256i* q = reinterpret_cast<const __m256i*>(p + 2 * kBlockFrames * b);
        const __m256i v0 = _mm256_loadu_si256(q);
        const __m256i v1 = _mm256_loadu_si256(q + 1);
        const __m256i v2 = _mm256_loadu_si256(q + 2);
        const __m256i v3 = _mm256_loadu_si256(q + 3);
        const __m256i vmin = _mm256_min_epi16(_mm256_min_epi16(v0, v1), _mm256_min_epi16(v2, v3));
        const __m256i vmax = _mm256_max_epi16(_mm256_max_epi16(v0, v1), _mm256_max_epi16(v2, v3));
        const __m256i lo0 = _mm256_unpacklo_epi16(v0, v1);
        const __m256i hi0 = _mm256_unpackhi_epi16(v0, v1);
        const __m256i lo1 = _mm256_unpacklo_epi16(v2, v3);
        const __m256i hi1 = _mm256_unpackhi_epi16(v2, v3);
        sums = _mm256_add_epi32(
            sums,
            _mm256_add_epi32(
                _mm256_add_epi32(_mm256_madd_epi16(lo0, ones), _mm256_madd_epi16(hi0, ones)),
                _mm256_add_epi32(_mm256_madd_epi16(lo1, ones), _mm256_madd_epi16(hi1, ones))));
        const __m256i a0 = _mm256_madd_epi16(lo0, lo0);
        const __m256i c0 = _mm256_madd_epi16(hi0, hi0);
        const __m256i a1 = _mm256_madd_epi16(lo1, lo1);
        const __m256i c1 = _mm256_madd_epi16(hi1, hi1);
        squares1 = _mm256_add_epi64(
            squares1,
            _mm256_add_epi64(
                _mm256_add_epi64(_mm256_and_si256(a0, low32), _mm256_and_si256(c0, low32)),
                _mm256_add_epi64(_mm256_and_si256(a1, low32), _mm256_and_si256(c1, low32))));
        squares2 = _mm256_add_epi64(
            squares2, _mm256_add_epi64(
                          _mm256_add_epi64(_mm256_srli_epi64(a0, 32), _mm256_srli_epi64(c0, 32)),
                          _mm256_add_epi64(_mm256_srli_epi64(a1, 32), _mm256_srli_epi64(c1, 32))));
        lowest = _mm256_min_epi16(lowest, vmin);
        highest = _mm256_max_epi16(highest, vmax);
        Envelope(ReducePairs<false>(FoldMin(vmin)), ReducePairs<true>(FoldMax(vmax)), env + 4 * b);
        if ((b + 1) % kFlushBlocks == 0 || b + 1 == blocks) {
            _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), sums);
            AddSums(lanes, 8, t);
            sums = _mm256_setzero_si256();
        }
    }
    alignas(32) uint64_t wide[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(wide), squares1);
    t.squares[0] += wide[0] + wide[1] + wide[2] + wide[3];
    _mm256_store_si256(reinterpret_cast<__m256i*>(wide), squares2);
    t.squares[1] += wide[0] + wide[1] + wide[2] + wide[3];
    if (blocks > 0)
        Extremes(ReducePairs<false>(FoldMin(lowest)), ReducePairs<true>(FoldMax(highest)), t);
}
#endif

}  // namespace

bool Runs(BlockKernel kernel) {
    switch (kernel) {
        case BlockKernel::Plain:
            return true;
        case BlockKernel::Sse2:
#if defined(__SSE2__)
            return true;
#else
            return false;
#endif
        case BlockKernel::Avx2:
#if defined(RV8_MEASURE_AVX2)
            return __builtin_cpu_supports("avx2");
#else
            return false;
#endif
    }
    return false;
}

BlockKernel BestBlockKernel() {
    static const BlockKernel best = Runs(BlockKernel::Avx2)   ? BlockKernel::Avx2
                                    : Runs(BlockKernel::Sse2) ? BlockKernel::Sse2
                                                              : BlockKernel::Plain;
    return best;
}

void SumBlocks(BlockKernel kernel, const int16_t* frames, int32_t blocks, int16_t* envelope,
               BlockTotals& totals) {
    if (blocks <= 0) return;
    if (!Runs(kernel)) kernel = BlockKernel::Plain;
    switch (kernel) {
#if defined(RV8_MEASURE_AVX2)
        case BlockKernel::Avx2:
            SumBlocksAvx2(frames, blocks, envelope, totals);
            return;
#endif
#if defined(__SSE2__)
        case BlockKernel::Sse2:
            SumBlocksSse2(frames, blocks, envelope, totals);
            return;
#endif
        default:
            SumBlocksPlain(frames, blocks, envelope, totals);
            return;
    }
}

}  // namespace rv8::measure
