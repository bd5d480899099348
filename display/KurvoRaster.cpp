#include "display/KurvoRaster.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rv8::kurvo {

void BrighterRow(uint32_t* dst, const uint32_t* a, const uint32_t* b, int w) {
    int x = 0;
#if defined(__SSE2__)
    for (; x + 4 <= w; x += 4) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), _mm_max_epu8(va, vb));
    }
#endif
    for (; x < w; ++x)
        dst[x] = Brighter(a[x], b[x]);
}

namespace {

// FillRow for a known number of spans and mode, so that the compiler unrolls the span loop and
// drops the mode test from the pixel loop.
template <int kCount, bool kOverGrid>
inline void FillRowFixed(uint32_t* dst, const uint32_t* src, int y, int w, const SpanRef* spans) {
    int x = 0;
#if defined(__SSE2__)
    const __m128i row = _mm_set1_epi32(y);
    __m128i colours[kCount];
    for (int i = 0; i < kCount; ++i)
        colours[i] = _mm_set1_epi32(static_cast<int>(spans[i].color));
    for (; x + 4 <= w; x += 4) {
        const __m128i under = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
        __m128i out = under;
        for (int i = 0; i < kCount; ++i) {
            const __m128i top = _mm_loadu_si128(reinterpret_cast<const __m128i*>(spans[i].top + x));
            const __m128i bottom =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(spans[i].bottom + x));
            const __m128i outside =
                _mm_or_si128(_mm_cmpgt_epi32(top, row), _mm_cmpgt_epi32(row, bottom));
            const __m128i colour = kOverGrid ? _mm_max_epu8(colours[i], under) : colours[i];
            out = _mm_or_si128(_mm_and_si128(outside, out), _mm_andnot_si128(outside, colour));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), out);
    }
#endif
    for (; x < w; ++x) {
        uint32_t out = src[x];
        for (int i = 0; i < kCount; ++i) {
            if (spans[i].top[x] <= y && y <= spans[i].bottom[x])
                out = kOverGrid ? Brighter(spans[i].color, src[x]) : spans[i].color;
        }
        dst[x] = out;
    }
}

template <bool kOverGrid>
void FillRowMode(uint32_t* dst, const uint32_t* src, int y, int w, const SpanRef* spans,
                 int count) {
    // One or two spans are what the chart draws; more take the plain loop.
    if (count == 1) {
        FillRowFixed<1, kOverGrid>(dst, src, y, w, spans);
    } else if (count == 2) {
        FillRowFixed<2, kOverGrid>(dst, src, y, w, spans);
    } else if (count > 2) {
        for (int x = 0; x < w; ++x) {
            uint32_t out = src[x];
            for (int i = 0; i < count; ++i) {
                if (spans[i].top[x] <= y && y <= spans[i].bottom[x])
                    out = kOverGrid ? Brighter(spans[i].color, src[x]) : spans[i].color;
            }
            dst[x] = out;
        }
    } else if (dst != src) {
        std::memcpy(dst, src, static_cast<std::size_t>(w) * 4);
    }
}

}  // namespace

void FillRow(uint32_t* dst, const uint32_t* src, int y, int w, const SpanRef* spans, int count,
             bool overGrid) {
    if (overGrid) {
        FillRowMode<true>(dst, src, y, w, spans, count);
    } else {
        FillRowMode<false>(dst, src, y, w, spans, count);
    }
}

void FillSpans(const Surface& dst, const ConstSurface& under, const SpanRef* spans, int count,
               bool overGrid) {
    const int w = dst.width;
    const int h = dst.height;
    // Only the rows between the highest top and the lowest bottom can hold a lit pixel.
    int first = h;
    int last = -1;
    for (int i = 0; i < count; ++i) {
        if (w <= 0) break;
        first = std::min(first, *std::min_element(spans[i].top, spans[i].top + w));
        last = std::max(last, *std::max_element(spans[i].bottom, spans[i].bottom + w));
    }
    for (int y = 0; y < h; ++y) {
        if (y < first || y > last) {
            if (dst.row(y) != under.row(y))
                std::memcpy(dst.row(y), under.row(y), static_cast<std::size_t>(w) * 4);
        } else if (overGrid) {
            FillRowMode<true>(dst.row(y), under.row(y), y, w, spans, count);
        } else {
            FillRowMode<false>(dst.row(y), under.row(y), y, w, spans, count);
        }
    }
}

void CombineBrighter(const Surface& dst, const ConstSurface& a, const ConstSurface& b) {
    for (int y = 0; y < dst.height; ++y)
        BrighterRow(dst.row(y), a.row(y), b.row(y), dst.width);
}

void CopySurface(const Surface& dst, const ConstSurface& src) {
    for (int y = 0; y < dst.height; ++y)
        std::memcpy(dst.row(y), src.row(y), static_cast<std::size_t>(dst.width) * 4);
}

void FadeRow(uint32_t* row, int w, int factor) {
    const uint32_t f = static_cast<uint32_t>(factor);
    for (int x = 0; x < w; ++x) {
        const uint32_t p = row[x];
        if ((p & 0xFFFFFFu) == 0) continue;
        const uint32_t r = (((p >> 16) & 0xFFu) * f) >> 16;
        const uint32_t g = (((p >> 8) & 0xFFu) * f) >> 16;
        const uint32_t b = ((p & 0xFFu) * f) >> 16;
        row[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
    }
}

void Fade(const Surface& s, int factor) {
    for (int y = 0; y < s.height; ++y) {
        if (factor == 0) {
            std::fill(s.row(y), s.row(y) + s.width, 0xFF000000u);
        } else {
            FadeRow(s.row(y), s.width, factor);
        }
    }
}

void Put(const Surface& s, int x, int y, uint32_t c) {
    if (x >= 0 && y >= 0 && x < s.width && y < s.height) s.row(y)[x] = c;
}

void DrawGraticule(const Surface& s, int divX, int divY, uint32_t background, uint32_t dim,
                   uint32_t centre, int tick) {
    const int w = s.width;
    const int h = s.height;
    for (int y = 0; y < h; ++y)
        std::fill(s.row(y), s.row(y) + w, background);
    if (w < 1 || h < 1 || divX < 1 || divY < 1) return;
    // Dotted division lines, every other pixel.
    for (int i = 0; i <= divX; ++i) {
        const int x = i * (w - 1) / divX;
        for (int y = 0; y < h; y += 2)
            Put(s, x, y, dim);
    }
    for (int j = 0; j <= divY; ++j) {
        const int y = j * (h - 1) / divY;
        for (int x = 0; x < w; x += 2)
            Put(s, x, y, dim);
    }
    // Solid, brighter centre cross with a tick every fifth of a division.
    const int cx = (divX / 2) * (w - 1) / divX;
    const int cy = (divY / 2) * (h - 1) / divY;
    for (int y = 0; y < h; ++y)
        Put(s, cx, y, centre);
    for (int x = 0; x < w; ++x)
        Put(s, x, cy, centre);
    for (int t = 0; t <= divX * 5; ++t) {
        const int x = t * (w - 1) / (divX * 5);
        for (int d = -tick; d <= tick; ++d)
            Put(s, x, cy + d, centre);
    }
    for (int t = 0; t <= divY * 5; ++t) {
        const int y = t * (h - 1) / (divY * 5);
        for (int d = -tick; d <= tick; ++d)
            Put(s, cx + d, y, centre);
    }
}

void BlendOver(const Surface& dst, int x, int y, const ConstSurface& src) {
    const int x0 = std::max(0, x);
    const int y0 = std::max(0, y);
    const int x1 = std::min(dst.width, x + src.width);
    const int y1 = std::min(dst.height, y + src.height);
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i full = _mm_set1_epi16(255);
    const __m128i half = _mm_set1_epi16(128);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    // Two pixels' components (16 bits each): source + destination x (255 - alpha) / 255,
    // rounded as the scalar loop below rounds it.
    auto over = [&](__m128i s, __m128i d) {
        const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(s, _MM_SHUFFLE(3, 3, 3, 3)),
                                              _MM_SHUFFLE(3, 3, 3, 3));
        const __m128i t = _mm_add_epi16(_mm_mullo_epi16(d, _mm_sub_epi16(full, a)), half);
        return _mm_add_epi16(s, _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8));
    };
#endif
    for (int row = y0; row < y1; ++row) {
        const uint32_t* s = src.row(row - y) + (x0 - x);
        uint32_t* d = dst.row(row) + x0;
        int i = 0;
#if defined(__SSE2__)
        for (; i + 4 <= x1 - x0; i += 4) {
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srli_epi32(p, 24), zero)) == 0xFFFF)
                continue;  // all four transparent
            const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
            const __m128i lo = over(_mm_unpacklo_epi8(p, zero), _mm_unpacklo_epi8(q, zero));
            const __m128i hi = over(_mm_unpackhi_epi8(p, zero), _mm_unpackhi_epi8(q, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i),
                             _mm_or_si128(_mm_packus_epi16(lo, hi), opaque));
        }
#endif
        for (; i < x1 - x0; ++i) {
            const uint32_t p = s[i];
            const uint32_t a = p >> 24;
            if (a == 0) continue;
            const uint32_t q = d[i];
            auto over = [a](uint32_t sc, uint32_t dc) {
                return (sc + (dc * (255 - a) + 127) / 255) & 0xFFu;
            };
            d[i] = 0xFF000000u | (over((p >> 16) & 0xFFu, (q >> 16) & 0xFFu) << 16) |
                   (over((p >> 8) & 0xFFu, (q >> 8) & 0xFFu) << 8) | over(p & 0xFFu, q & 0xFFu);
        }
    }
}

namespace {

// x / 255 rounded to the nearest whole number, for 0 <= x <= 255 x 255.
inline uint32_t Div255(uint32_t x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

}  // namespace

void FillOver(const Surface& dst, int x, int y, int w, int h, uint32_t over) {
    const int x0 = std::max(0, x);
    const int y0 = std::max(0, y);
    const int x1 = std::min(dst.width, x + w);
    const int y1 = std::min(dst.height, y + h);
    if (x0 >= x1 || y0 >= y1) return;
    const uint32_t keep = 255 - (over >> 24);  // of the pixel under it
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i k = _mm_set1_epi16(static_cast<int16_t>(keep));
    const __m128i half = _mm_set1_epi16(128);
    const __m128i add = _mm_set1_epi32(static_cast<int>(over | 0xFF000000u));
    // Each component: c x keep / 255 rounded (as Div255), then the colour on top; opaque.
    auto scale = [&](__m128i v) {
        __m128i t = _mm_add_epi16(_mm_mullo_epi16(v, k), half);
        return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
    };
#endif
    for (int row = y0; row < y1; ++row) {
        uint32_t* d = dst.row(row);
        int i = x0;
#if defined(__SSE2__)
        for (; i + 4 <= x1; i += 4) {
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
            const __m128i lo = scale(_mm_unpacklo_epi8(p, zero));
            const __m128i hi = scale(_mm_unpackhi_epi8(p, zero));
            // The colour's components and the scaled ones add up to at most 255: no carry.
            const __m128i out = _mm_add_epi8(_mm_packus_epi16(lo, hi), add);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i),
                             _mm_or_si128(out, _mm_set1_epi32(static_cast<int>(0xFF000000u))));
        }
#endif
        for (; i < x1; ++i) {
            const uint32_t q = d[i];
            uint32_t out = 0xFF000000u;
            for (int shift = 0; shift < 24; shift += 8)
                out |= (((over >> shift) & 0xFFu) + Div255(((q >> shift) & 0xFFu) * keep)) << shift;
            d[i] = out;
        }
    }
}

void BlendCoverage(const Surface& dst, int x, int y, const uint8_t* mask, int w, int h,
                   std::ptrdiff_t maskStride, uint32_t colour) {
    const int x0 = std::max(0, x);
    const int y0 = std::max(0, y);
    const int x1 = std::min(dst.width, x + w);
    const int y1 = std::min(dst.height, y + h);
    const uint32_t opaque = 0xFF000000u | colour;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i full = _mm_set1_epi16(255);
    const __m128i half = _mm_set1_epi16(128);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i c16 = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(colour)), zero);
    // Two pixels' components (16 bits each) mixed as the scalar loop below mixes them:
    // (colour x a + pixel x (255 - a)) / 255, rounded; each sum stays below 2^16.
    auto mix = [&](__m128i under, __m128i a) {
        const __m128i t = _mm_add_epi16(
            _mm_add_epi16(_mm_mullo_epi16(c16, a), _mm_mullo_epi16(under, _mm_sub_epi16(full, a))),
            half);
        return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
    };
#endif
    for (int row = y0; row < y1; ++row) {
        const uint8_t* m = mask + (row - y) * maskStride + (x0 - x);
        uint32_t* d = dst.row(row) + x0;
        const int n = x1 - x0;
        int i = 0;
#if defined(__SSE2__)
        for (; i + 4 <= n; i += 4) {
            uint32_t four;
            std::memcpy(&four, m + i, 4);
            if (four == 0) continue;
            // Each pixel's coverage in the four components of its pixel.
            const __m128i a8 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(four)), zero);
            const __m128i a16 = _mm_unpacklo_epi16(a8, a8);  // a0 a0 a1 a1 a2 a2 a3 a3
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
            const __m128i lo = mix(_mm_unpacklo_epi8(p, zero), _mm_unpacklo_epi32(a16, a16));
            const __m128i hi = mix(_mm_unpackhi_epi8(p, zero), _mm_unpackhi_epi32(a16, a16));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i),
                             _mm_or_si128(_mm_packus_epi16(lo, hi), alpha));
        }
#endif
        for (; i < n; ++i) {
            const uint32_t a = m[i];
            if (a == 0) continue;
            if (a == 255) {
                d[i] = opaque;
                continue;
            }
            const uint32_t q = d[i];
            uint32_t out = 0xFF000000u;
            for (int shift = 0; shift < 24; shift += 8) {
                const uint32_t c = (colour >> shift) & 0xFFu;
                const uint32_t under = (q >> shift) & 0xFFu;
                out |= Div255(c * a + under * (255 - a)) << shift;
            }
            d[i] = out;
        }
    }
}

}  // namespace rv8::kurvo
