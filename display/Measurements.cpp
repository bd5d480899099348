#include "display/Measurements.h"

#include "display/MeasureBlocks.h"
#include "display/MeasureCrossings.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rv8::measure {

namespace {

using crossing::FindPeriod;
using crossing::Interleaved;
using crossing::Strided;

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

bool CrossesLevel(const int16_t* values, std::ptrdiff_t stride, int32_t frames, int32_t at,
                  double level, bool rising) {
    if (values == nullptr) return false;
    const int32_t from = std::max(0, at - 2);
    const int32_t to = std::min(frames - 1, at + 2);
    for (int32_t i = from; i < to; ++i) {
        const double a = values[i * stride], b = values[(i + 1) * stride];
        if (rising ? a < level + 1.0 && b >= level - 1.0 && b > a
                   : a > level - 1.0 && b <= level + 1.0 && b < a)
            return true;
    }
    return false;
}

int TriggerState(const int16_t* interleaved, int32_t frames, const Acquisition& a) {
    const int c = a.triggerChannel();
    if (c < 0 || (a.triggerSlope != acq::kRising && a.triggerSlope != acq::kFalling)) return 0;
    const double s = a.channel[static_cast<std::size_t>(c)].sensitivity;
    const double level = a.channel[static_cast<std::size_t>(c)].triggerLevel;
    if (!(s > 0.0) || !std::isfinite(level)) return 0;
    if (a.postSamples < 0 || a.postSamples > a.recordLength) return 0;
    const int32_t at = a.recordLength - a.postSamples;
    if (at >= frames) return 0;
    return CrossesLevel(interleaved + c, 2, frames, at, level / s * 32768.0,
                        a.triggerSlope == acq::kRising)
               ? 1
               : -1;
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
