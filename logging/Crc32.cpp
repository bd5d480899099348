#include "logging/Crc32.h"

#include <array>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace rv8 {

namespace {

// A little-endian u32 (the compiler makes this one load on little-endian machines).
inline uint32_t Le32(const uint8_t* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

// Slicing-by-8 tables: table[0] is the classic byte table, table[k][b] the CRC of byte b
// followed by k zero bytes.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables MakeCrcTables() {
    CrcTables t{};
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t c = b;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        t[0][b] = c;
    }
    for (uint32_t b = 0; b < 256; ++b) {
        for (int k = 1; k < 8; ++k)
            t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    }
    return t;
}

constexpr CrcTables kCrc = MakeCrcTables();

// Table-driven CRC on the inverted register (slicing by 8 bytes, then byte by byte).
uint32_t CrcTables8(const uint8_t* p, std::size_t size, uint32_t crc) {
    while (size >= 8) {
        const uint32_t lo = Le32(p) ^ crc;
        const uint32_t hi = Le32(p + 4);
        crc = kCrc[7][lo & 0xFF] ^ kCrc[6][(lo >> 8) & 0xFF] ^ kCrc[5][(lo >> 16) & 0xFF] ^
              kCrc[4][lo >> 24] ^ kCrc[3][hi & 0xFF] ^ kCrc[2][(hi >> 8) & 0xFF] ^
              kCrc[1][(hi >> 16) & 0xFF] ^ kCrc[0][hi >> 24];
        p += 8;
        size -= 8;
    }
    while (size-- > 0)
        crc = kCrc[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

#if defined(__x86_64__) && defined(__GNUC__)
#define RV8_CRC_CLMUL 1
// Carry-less multiplication folding (the method of Intel's "Fast CRC Computation for Generic
// Polynomials Using PCLMULQDQ"), with the bit-reflected constants for polynomial 0xEDB88320:
// four 128-bit lanes are folded 64 bytes at a time, then into one lane, then reduced to 32 bits
// (Barrett). Works on the inverted register like CrcTables8. `size` >= 64 and a multiple of 16.
#define RV8_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

RV8_CLMUL_TARGET inline __m128i load(const uint8_t* q) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}

// x times the folding constants (low and high halves), plus the next 16 bytes.
RV8_CLMUL_TARGET inline __m128i fold(__m128i x, __m128i k, __m128i next) {
    const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

RV8_CLMUL_TARGET uint32_t CrcClmul(const uint8_t* p, std::size_t size, uint32_t crc) {
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5k0 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = load(p + 16);
    __m128i x3 = load(p + 32);
    __m128i x4 = load(p + 48);
    p += 64;
    size -= 64;
    while (size >= 64) {
        x1 = fold(x1, k1k2, load(p));
        x2 = fold(x2, k1k2, load(p + 16));
        x3 = fold(x3, k1k2, load(p + 32));
        x4 = fold(x4, k1k2, load(p + 48));
        p += 64;
        size -= 64;
    }
    x1 = fold(x1, k3k4, x2);
    x1 = fold(x1, k3k4, x3);
    x1 = fold(x1, k3k4, x4);
    while (size >= 16) {
        x1 = fold(x1, k3k4, load(p));
        p += 16;
        size -= 16;
    }
    // 128 bits to 64.
    const __m128i mask32 = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x2r = _mm_clmulepi64_si128(x1, k3k4, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2r);
    x2r = _mm_srli_si128(x1, 4);
    x1 = _mm_and_si128(x1, mask32);
    x1 = _mm_clmulepi64_si128(x1, k5k0, 0x00);
    x1 = _mm_xor_si128(x1, x2r);
    // Barrett reduction to 32 bits.
    x2r = _mm_and_si128(x1, mask32);
    x2r = _mm_clmulepi64_si128(x2r, poly, 0x10);
    x2r = _mm_and_si128(x2r, mask32);
    x2r = _mm_clmulepi64_si128(x2r, poly, 0x00);
    x1 = _mm_xor_si128(x1, x2r);
    return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

bool HaveClmul() {
    static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return have;
}
#endif

}  // namespace

uint32_t Crc32(const void* data, std::size_t size, uint32_t crc) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    crc = ~crc;
#ifdef RV8_CRC_CLMUL
    if (size >= 64 && HaveClmul()) {
        const std::size_t bulk = size & ~static_cast<std::size_t>(15);
        crc = CrcClmul(p, bulk, crc);
        p += bulk;
        size -= bulk;
    }
#endif
    return ~CrcTables8(p, size, crc);
}

}  // namespace rv8
