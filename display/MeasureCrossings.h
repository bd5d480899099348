// The crossing search of the chart's measurements (display/Measurements.h): one channel of a
// record as the search reads it (any stride, or one channel of interleaved frames a block at a
// time), the search for high and low samples on the record's envelope, and what it finds: the
// period, the duty cycle and the rise and fall times. Used by Measurements.cpp only.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "display/Measurements.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rv8::measure::crossing {

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

// The first sample at or after `from` at or below `low`, or frames(). Blocks without one are
// passed over on their envelope.
template <typename Source>
int32_t FirstLow(const Source& s, int32_t from, int32_t low) {
    for (int32_t i = from; i < s.frames();) {
        const int32_t b = i / kBlockFrames;
        const int32_t end = std::min(s.frames(), (b + 1) * kBlockFrames);
        if (s.blockMin(b) <= low) {
            const int32_t found = s.template scan<false>(i, end, low);
            if (found < end) return found;
        }
        i = end;
    }
    return s.frames();
}

// Where between samples k and k + 1 the signal passes `level` (it lies between their values).
template <typename Source>
double Passes(const Source& s, int32_t k, double level) {
    return k + (level - s.at(k)) / static_cast<double>(s.at(k + 1) - s.at(k));
}

// The duty cycle comes from the first kDetailedPeriods periods, the rise and fall times from the
// first kEdges edges of each direction that show both levels.
constexpr int kDetailedPeriods = 32;

// The 10 % to 90 % times of up to kEdges edges of each direction.
struct EdgeTimes {
    double sum = 0.0;
    int count = 0;
    double mean() const {
        return count > 0 ? sum / count : std::numeric_limits<double>::quiet_NaN();
    }
};
constexpr int kEdges = 16;

// A rising edge through the middle between samples j and j + 1: from the last sample at or
// below `low10` before it (not before `from`) to the first at or above `high90` after it (before
// `to`). An edge that does not reach both within those bounds is left out.
template <typename Source>
void RisingEdge(const Source& s, int32_t j, int32_t from, int32_t to, double low10, double high90,
                EdgeTimes& e) {
    int32_t a = j;
    while (a >= from && s.at(a) > low10)
        --a;
    int32_t b = j + 1;
    while (b < to && s.at(b) < high90)
        ++b;
    if (a < from || b >= to) return;
    e.sum += Passes(s, b - 1, high90) - Passes(s, a, low10);
    ++e.count;
}

// A falling edge through the middle between samples k and k + 1: from the last sample at or
// above `high90` before it (not before `from`) to the first at or below `low10` after it (before
// `to`).
template <typename Source>
void FallingEdge(const Source& s, int32_t k, int32_t from, int32_t to, double low10, double high90,
                 EdgeTimes& e) {
    int32_t a = k;
    while (a >= from && s.at(a) < high90)
        --a;
    int32_t b = k + 1;
    while (b < to && s.at(b) > low10)
        ++b;
    if (a < from || b >= to) return;
    e.sum += Passes(s, b - 1, low10) - Passes(s, a, high90);
    ++e.count;
}

// The period of one channel from its samples and its envelope (see Strided), and with it the
// whole periods' span, the duty cycle and the rise and fall times.
template <typename Source>
void FindPeriod(const Source& s, ChannelMeasurement& m) {
    const int32_t swing = m.peakToPeak();
    if (swing < kMinSwing) return;
    // The middle level, doubled so that it is a whole number.
    const int32_t twiceMid = 2 * int32_t{m.min} + swing;
    const double mid = 0.5 * twiceMid;
    // A sample at or below `low` is low, one at or above `high` is high.
    const int32_t low = static_cast<int32_t>(std::floor(m.min + kLowFraction * swing));
    const int32_t high = static_cast<int32_t>(std::ceil(m.min + kHighFraction * swing));
    const double low10 = m.min + kEdgeLow * swing;
    const double high90 = m.min + kEdgeHigh * swing;
    const int32_t frames = s.frames();

    double first = 0.0, previous = 0.0;
    double shortest = 0.0, longest = 0.0;
    int crossings = 0;
    double highTime = 0.0;  // of the periods in dutyTime, at or above the middle
    double dutyTime = 0.0;  // the whole periods whose falling crossing was found
    double fall = -1.0;     // the falling crossing after the last rising one; -1 none yet
    int32_t fallFrame = 0;  // the last sample at or above the middle before it
    EdgeTimes rises, falls;
    // The state is set by the first sample beyond either level.
    const int32_t firstHigh = NextHigh(s, 0, high);
    int32_t i = NextLow(s, 0, low, high);
    if (firstHigh < i) i = NextLow(s, firstHigh, low, high);
    int32_t rise = i < frames ? NextHigh(s, i, high) : frames;
    while (rise < frames) {
        // A rising crossing: back to the last sample below the middle (a low one lies before
        // the high one), then between it and the next.
        int32_t j = rise - 1;
        while (2 * s.at(j) >= twiceMid)
            --j;
        const double t = Passes(s, j, mid);
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
            if (fall >= 0.0) {
                // The period from the last rising crossing to this one, its falling crossing
                // found: into the duty cycle.
                highTime += fall - previous;
                dutyTime += t - previous;
                fall = -1.0;
            }
        }
        previous = t;
        ++crossings;
        if (crossings > kDetailedPeriods) {
            // The duty cycle and the edges are taken from the first periods: from here on only
            // the rising crossings, skipping blocks on the envelope.
            i = NextLow(s, rise, low, high);
            rise = i < frames ? NextHigh(s, i, high) : frames;
            continue;
        }
        const int32_t lowAfter = FirstLow(s, rise, low);
        if (rises.count < kEdges) RisingEdge(s, j, fallFrame, lowAfter, low10, high90, rises);
        if (lowAfter >= frames) break;
        // The falling crossing: back from the first low sample to the last one at or above the
        // middle (the high one at `rise` lies before it).
        int32_t k = lowAfter - 1;
        while (2 * s.at(k) < twiceMid)
            --k;
        fall = Passes(s, k, mid);
        const int32_t next = NextHigh(s, lowAfter, high);
        if (falls.count < kEdges) FallingEdge(s, k, rise, next, low10, high90, falls);
        fallFrame = k;
        rise = next;
    }
    m.periods = std::max(0, crossings - 1);
    if (m.periods < kMinPeriods) return;
    const double period = (previous - first) / m.periods;
    if (longest - shortest > 0.5 * period + 2.0) return;  // no steady period
    m.period = period;
    m.firstRise = first;
    m.lastRise = previous;
    if (dutyTime > 0.0) m.duty = highTime / dutyTime;
    m.riseTime = rises.mean();
    m.fallTime = falls.mean();
}

}  // namespace rv8::measure::crossing
