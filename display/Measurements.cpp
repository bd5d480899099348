#include "display/Measurements.h"

#include "display/MeasureBlocks.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rv8::measure {

namespace {

// The running sums of one channel.
struct Sums {
    int64_t sum = 0;
    uint64_t squares = 0;
    int16_t min = 32767;
    int16_t max = -32768;

    void add(int16_t x) {
        sum += x;
        squares += static_cast<uint64_t>(int32_t{x} * int32_t{x});
        min = std::min(min, x);
        max = std::max(max, x);
    }
};

// One channel of a record as the crossing search reads it: sample i, block b's smallest and
// largest sample, and the first frame in [from, end) whose sample is at or above `level`
// (kHigh) or at or below it (otherwise), or `end` when there is none.
class Strided {
  public:
    Strided(const int16_t* values, std::ptrdiff_t stride, int32_t frames, const int16_t* envMin,
            const int16_t* envMax, std::ptrdiff_t envStride)
        : v_(values),
          stride_(stride),
          frames_(frames),
          min_(envMin),
          max_(envMax),
          envStride_(envStride) {}
    int32_t frames() const { return frames_; }
    int32_t at(int32_t i) const { return v_[i * stride_]; }
    int32_t blockMin(int32_t b) const { return min_[b * envStride_]; }
    int32_t blockMax(int32_t b) const { return max_[b * envStride_]; }
    template <bool kHigh>
    int32_t scan(int32_t from, int32_t end, int32_t level) const {
        for (int32_t i = from; i < end; ++i) {
            if (kHigh ? at(i) >= level : at(i) <= level) return i;
        }
        return end;
    }

  private:
    const int16_t* v_;
    std::ptrdiff_t stride_;
    int32_t frames_;
    const int16_t* min_;
    const int16_t* max_;
    std::ptrdiff_t envStride_;
};

#if defined(__SSE2__)
// Channel kChannel's compare results of one vector of four interleaved frames, one 32-bit lane
// (all ones or all zeros) per frame.
template <int kChannel>
inline __m128i ChannelLanes(__m128i m) {
    return kChannel == 0 ? _mm_srai_epi32(_mm_slli_epi32(m, 16), 16) : _mm_srai_epi32(m, 16);
}
#endif

// Channel kChannel of interleaved frames: the same, a whole block of 32 frames at a time.
template <int kChannel>
class Interleaved : public Strided {
  public:
    Interleaved(const int16_t* frames, int32_t count, const int16_t* envelope)
        : Strided(frames + kChannel, 2, count, envelope + 2 * kChannel, envelope + 2 * kChannel + 1,
                  4),
          base_(frames) {}
    template <bool kHigh>
    int32_t scan(int32_t from, int32_t end, int32_t level) const {
#if defined(__SSE2__)
        static_assert(kBlockFrames == 32);
        const int32_t start = from & ~(kBlockFrames - 1);
        if (end - start == kBlockFrames) {
            // A match is x > level - 1 (kHigh) or level + 1 > x; both stay in the 16-bit range,
            // as the levels lie strictly between the channel's smallest and largest value.
            const __m128i t = _mm_set1_epi16(static_cast<int16_t>(kHigh ? level - 1 : level + 1));
            const __m128i* q = reinterpret_cast<const __m128i*>(base_ + 2 * start);
            auto lanes = [&](int j) {
                const __m128i v = _mm_loadu_si128(q + j);
                return ChannelLanes<kChannel>(kHigh ? _mm_cmpgt_epi16(v, t)
                                                    : _mm_cmpgt_epi16(t, v));
            };
            const __m128i first = _mm_packs_epi16(_mm_packs_epi32(lanes(0), lanes(1)),
                                                  _mm_packs_epi32(lanes(2), lanes(3)));
            const __m128i second = _mm_packs_epi16(_mm_packs_epi32(lanes(4), lanes(5)),
                                                   _mm_packs_epi32(lanes(6), lanes(7)));
            uint32_t bits = static_cast<uint32_t>(_mm_movemask_epi8(first)) |
                            (static_cast<uint32_t>(_mm_movemask_epi8(second)) << 16);
            bits &= ~0u << (from - start);
            return bits != 0 ? start + __builtin_ctz(bits) : end;
        }
#endif
        return Strided::scan<kHigh>(from, end, level);
    }

  private:
    const int16_t* base_;
};

// The first sample at or after `from` at or above `high`, or frames(). Blocks without one are
// passed over on their envelope.
template <typename Source>
int32_t NextHigh(const Source& s, int32_t from, int32_t high) {
    for (int32_t i = from; i < s.frames();) {
        const int32_t b = i / kBlockFrames;
        const int32_t end = std::min(s.frames(), (b + 1) * kBlockFrames);
        if (s.blockMax(b) >= high) {
            const int32_t found = s.template scan<true>(i, end, high);
            if (found < end) return found;
        }
        i = end;
    }
    return s.frames();
}

// A frame at or after the first sample at or below `low` from `from` on, with no sample at or
// above `high` in between (frames() when there is no such sample): the position from which
// the search for the next high sample goes on. In a block with a low sample and no high one
// that is the block's last frame, found on the envelope alone.
template <typename Source>
int32_t NextLow(const Source& s, int32_t from, int32_t low, int32_t high) {
    for (int32_t i = from; i < s.frames();) {
        const int32_t b = i / kBlockFrames;
        const int32_t end = std::min(s.frames(), (b + 1) * kBlockFrames);
        if (s.blockMin(b) <= low) {
            if (s.blockMax(b) < high) return end - 1;
            const int32_t found = s.template scan<false>(i, end, low);
            if (found < end) return found;
        }
        i = end;
    }
    return s.frames();
}

// The period of one channel from its samples and its envelope (see Strided).
template <typename Source>
void FindPeriod(const Source& s, ChannelMeasurement& m) {
    const int32_t swing = m.peakToPeak();
    if (swing < kMinSwing) return;
    // The middle level, doubled so that it is a whole number.
    const int32_t twiceMid = 2 * int32_t{m.min} + swing;
    // A sample at or below `low` is low, one at or above `high` is high.
    const int32_t low = static_cast<int32_t>(std::floor(m.min + kLowFraction * swing));
    const int32_t high = static_cast<int32_t>(std::ceil(m.min + kHighFraction * swing));
    const int32_t frames = s.frames();

    double first = 0.0, previous = 0.0;
    double shortest = 0.0, longest = 0.0;
    int crossings = 0;
    // The state is set by the first sample beyond either level.
    const int32_t firstHigh = NextHigh(s, 0, high);
    int32_t i = NextLow(s, 0, low, high);
    if (firstHigh < i) i = NextLow(s, firstHigh, low, high);
    while (i < frames) {
        // Low at i: the next high sample is a rising crossing.
        i = NextHigh(s, i, high);
        if (i >= frames) break;
        // Back to the last sample below the middle (a low one lies before i), then between it
        // and the next.
        int32_t j = i - 1;
        while (2 * s.at(j) >= twiceMid)
            --j;
        const double t =
            j + (0.5 * twiceMid - s.at(j)) / static_cast<double>(s.at(j + 1) - s.at(j));
        if (crossings == 0) {
            first = t;
        } else {
            const double gap = t - previous;
            shortest = crossings == 1 ? gap : std::min(shortest, gap);
            longest = crossings == 1 ? gap : std::max(longest, gap);
            // Periods this far apart stay too far apart for a steady period whatever follows
            // (the test below with the mean period at most the longest): no need to go on.
            if (longest > 2.0 * shortest + 4.0) {
                m.periods = crossings;
                return;
            }
        }
        previous = t;
        ++crossings;
        i = NextLow(s, i, low, high);
    }
    m.periods = std::max(0, crossings - 1);
    if (m.periods < kMinPeriods) return;
    const double period = (previous - first) / m.periods;
    if (longest - shortest > 0.5 * period + 2.0) return;  // no steady period
    m.period = period;
    m.firstRise = first;
    m.lastRise = previous;
}

// The frames [from, to) that lie within the whole periods: those from the first rising crossing
// on and before the last.
struct FrameSpan {
    int32_t from, to;
};
FrameSpan CycleFrames(const ChannelMeasurement& m) {
    const auto from = static_cast<int32_t>(std::ceil(m.firstRise));
    const auto to = static_cast<int32_t>(std::ceil(m.lastRise));
    return {std::clamp(from, 0, m.frames), std::clamp(to, 0, m.frames)};
}

void FinishCycles(int64_t sum, uint64_t squares, int32_t count, ChannelMeasurement& m) {
    if (count <= 0) return;
    m.cycleMean = static_cast<double>(sum) / count;
    m.cycleRms = std::sqrt(static_cast<double>(squares) / count);
}

// Both channels' sums over frames [from, to) of interleaved frames: the whole blocks in the
// vector loop (their envelope into `scratch`), the rest here.
BlockTotals RangeTotals(const int16_t* p, int32_t from, int32_t to, std::vector<int16_t>& scratch) {
    BlockTotals t;
    if (to <= from) return t;
    const int32_t blocks = (to - from) / kBlockFrames;
    scratch.resize(4 * static_cast<std::size_t>(std::max(blocks, 1)));
    SumBlocks(BestBlockKernel(), p + 2 * static_cast<std::ptrdiff_t>(from), blocks, scratch.data(),
              t);
    for (int32_t i = from + blocks * kBlockFrames; i < to; ++i) {
        for (int c = 0; c < 2; ++c) {
            const int32_t x = p[2 * i + c];
            t.sum[c] += x;
            t.squares[c] += static_cast<uint64_t>(x * x);
        }
    }
    return t;
}

void Finish(const Sums& s, int32_t frames, ChannelMeasurement& m) {
    m.frames = frames;
    m.min = s.min;
    m.max = s.max;
    m.mean = static_cast<double>(s.sum) / frames;
    m.rms = std::sqrt(static_cast<double>(s.squares) / frames);
    m.overRange = s.min == -32768 || s.max == 32767;
}

}  // namespace

void Measurer::measure(const int16_t* p, int32_t frames, ChannelMeasurement out[2]) {
    out[0] = ChannelMeasurement{};
    out[1] = ChannelMeasurement{};
    if (p == nullptr || frames <= 0) return;
    const int32_t blocks = (frames + kBlockFrames - 1) / kBlockFrames;
    envelope_.resize(4 * static_cast<std::size_t>(blocks));
    int16_t* env = envelope_.data();
    // The whole blocks in the vector loop, then the last one (perhaps short) here.
    const int32_t fullBlocks = frames / kBlockFrames;
    BlockTotals totals;
    SumBlocks(BestBlockKernel(), p, fullBlocks, env, totals);
    Sums s[2];
    for (int c = 0; c < 2; ++c) {
        s[c].sum = totals.sum[c];
        s[c].squares = totals.squares[c];
        s[c].min = totals.min[c];
        s[c].max = totals.max[c];
    }
    int32_t b = fullBlocks;
    for (; b < blocks; ++b) {
        const int32_t end = std::min(frames, (b + 1) * kBlockFrames);
        for (int c = 0; c < 2; ++c) {
            int16_t lo = 32767, hi = -32768;
            for (int32_t i = b * kBlockFrames; i < end; ++i) {
                const int16_t x = p[2 * i + c];
                s[c].add(x);
                lo = std::min(lo, x);
                hi = std::max(hi, x);
            }
            env[4 * b + 2 * c] = lo;
            env[4 * b + 2 * c + 1] = hi;
        }
    }
    for (int c = 0; c < 2; ++c) {
        Finish(s[c], frames, out[c]);
        if (c == 0) {
            FindPeriod(Interleaved<0>(p, frames, env), out[c]);
        } else {
            FindPeriod(Interleaved<1>(p, frames, env), out[c]);
        }
        if (!out[c].hasPeriod()) continue;
        // The sums over the whole periods: of those frames, or the record's less the frames
        // before and after them, whichever reads fewer.
        const FrameSpan span = CycleFrames(out[c]);
        const int32_t inside = span.to - span.from;
        if (2 * inside <= frames) {
            const BlockTotals t = RangeTotals(p, span.from, span.to, scratch_);
            FinishCycles(t.sum[c], t.squares[c], inside, out[c]);
        } else {
            const BlockTotals head = RangeTotals(p, 0, span.from, scratch_);
            const BlockTotals tail = RangeTotals(p, span.to, frames, scratch_);
            FinishCycles(s[c].sum - head.sum[c] - tail.sum[c],
                         s[c].squares - head.squares[c] - tail.squares[c], inside, out[c]);
        }
    }
}

void OverRange(const int16_t* p, int32_t frames, bool out[2]) {
    int16_t lo[2] = {32767, 32767}, hi[2] = {-32768, -32768};
    int32_t i = 0;
#if defined(__SSE2__)
    if (frames >= 4) {
        __m128i vmin = _mm_set1_epi16(32767), vmax = _mm_set1_epi16(-32768);
        for (; i + 4 <= frames; i += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i));
            vmin = _mm_min_epi16(vmin, v);
            vmax = _mm_max_epi16(vmax, v);
        }
        const uint32_t mins = ReducePairs<false>(vmin);
        const uint32_t maxs = ReducePairs<true>(vmax);
        lo[0] = static_cast<int16_t>(mins & 0xFFFFu);
        lo[1] = static_cast<int16_t>(mins >> 16);
        hi[0] = static_cast<int16_t>(maxs & 0xFFFFu);
        hi[1] = static_cast<int16_t>(maxs >> 16);
    }
#endif
    for (; i < frames; ++i) {
        for (int c = 0; c < 2; ++c) {
            lo[c] = std::min(lo[c], p[2 * i + c]);
            hi[c] = std::max(hi[c], p[2 * i + c]);
        }
    }
    for (int c = 0; c < 2; ++c)
        out[c] = frames > 0 && (lo[c] == -32768 || hi[c] == 32767);
}

ChannelMeasurement MeasureChannel(const int16_t* values, std::ptrdiff_t stride, int32_t frames) {
    ChannelMeasurement m;
    if (values == nullptr || frames <= 0) return m;
    const int32_t blocks = (frames + kBlockFrames - 1) / kBlockFrames;
    std::vector<int16_t> env(2 * static_cast<std::size_t>(blocks));
    Sums s;
    for (int32_t b = 0; b < blocks; ++b) {
        int16_t lo = 32767, hi = -32768;
        const int32_t end = std::min(frames, (b + 1) * kBlockFrames);
        for (int32_t i = b * kBlockFrames; i < end; ++i) {
            const int16_t x = values[i * stride];
            s.add(x);
            lo = std::min(lo, x);
            hi = std::max(hi, x);
        }
        env[2 * b] = lo;
        env[2 * b + 1] = hi;
    }
    Finish(s, frames, m);
    FindPeriod(Strided(values, stride, frames, env.data(), env.data() + 1, 2), m);
    if (m.hasPeriod()) {
        const FrameSpan span = CycleFrames(m);
        Sums cycle;
        for (int32_t i = span.from; i < span.to; ++i)
            cycle.add(values[i * stride]);
        FinishCycles(cycle.sum, cycle.squares, span.to - span.from, m);
    }
    return m;
}

}  // namespace rv8::measure
