// Raw and signed samples. A raw sample is the instrument's unsigned 16-bit value (0 bottom of
// the range, 32768 mid-scale, 65535 top); a signed sample is raw minus 32768, which in 16 bits
// is the raw value with bit 15 inverted.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rv8 {

constexpr int kRawBufferSamples = 131093;  // room of each raw channel buffer
constexpr int kChannels = 2;

constexpr int16_t RawToSigned(uint16_t raw) {
    return static_cast<int16_t>(static_cast<uint16_t>(raw ^ 0x8000u));
}

// Builds the interleaved block (channel 1 sample 0, channel 2 sample 0, channel 1 sample 1, ...)
// from the two raw buffers in one linear pass. `block` must hold 2 * frames values. Runs at
// about the speed of a memory copy: eight frames at a time where SSE2 is available.
inline void InterleaveRaw(const uint16_t* ch1, const uint16_t* ch2, int16_t* block,
                          std::size_t frames) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
    for (; i + 8 <= frames; i += 8) {
        const __m128i a =
            _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ch1 + i)), flip);
        const __m128i b =
            _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ch2 + i)), flip);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 2 * i), _mm_unpacklo_epi16(a, b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 2 * i + 8), _mm_unpackhi_epi16(a, b));
    }
#endif
    for (; i < frames; ++i) {
        block[2 * i] = RawToSigned(ch1[i]);
        block[2 * i + 1] = RawToSigned(ch2[i]);
    }
}

// Clears the two lowest bits of every value (the recorded resolution): -1 -> -4, 5 -> 4.
inline void MaskLowBits(int16_t* values, std::size_t count) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i mask = _mm_set1_epi16(static_cast<short>(0xFFFC));
    for (; i + 8 <= count; i += 8) {
        __m128i* p = reinterpret_cast<__m128i*>(values + i);
        _mm_storeu_si128(p, _mm_and_si128(_mm_loadu_si128(p), mask));
    }
#endif
    for (; i < count; ++i) {
        values[i] = static_cast<int16_t>(static_cast<uint16_t>(values[i]) & 0xFFFCu);
    }
}

}  // namespace rv8
