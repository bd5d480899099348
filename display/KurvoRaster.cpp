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
    for (int row = y0; row < y1; ++row) {
        const uint32_t* s = src.row(row - y) + (x0 - x);
        uint32_t* d = dst.row(row) + x0;
        for (int i = 0; i < x1 - x0; ++i) {
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

}  // namespace rv8::kurvo
