// The chart's pixel loops, free of widgets: they work on rows of 32-bit pixels 0xAARRGGBB (the
// layout of QImage::Format_RGB32 and Format_ARGB32_Premultiplied), so that every one can be
// tested and measured on plain buffers. The chart hands them its images' scanlines.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rv8::kurvo {

// A rectangle of pixels: `height` rows of `width` pixels, row y starting `stride` bytes after
// row y - 1. Does not own the pixels.
struct Surface {
    uint32_t* bits = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;  // bytes

    uint32_t* row(int y) const {
        return reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(bits) + y * stride);
    }
};

struct ConstSurface {
    const uint32_t* bits = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;  // bytes

    ConstSurface() = default;
    ConstSurface(const uint32_t* b, int w, int h, std::ptrdiff_t s)
        : bits(b), width(w), height(h), stride(s) {}
    ConstSurface(const Surface& s)  // NOLINT(google-explicit-constructor): a view of the same
        : bits(s.bits), width(s.width), height(s.height), stride(s.stride) {}

    const uint32_t* row(int y) const {
        return reinterpret_cast<const uint32_t*>(reinterpret_cast<const unsigned char*>(bits) +
                                                 y * stride);
    }
};

// The brighter of each colour component of two opaque pixels; the result is opaque.
inline uint32_t Brighter(uint32_t a, uint32_t b) {
    auto larger = [](uint32_t x, uint32_t y) { return x > y ? x : y; };
    return 0xFF000000u | larger(a & 0xFF0000u, b & 0xFF0000u) | larger(a & 0xFF00u, b & 0xFF00u) |
           larger(a & 0xFFu, b & 0xFFu);
}

// dst[x] = Brighter(a[x], b[x]) for a row of w pixels (dst may be a or b).
void BrighterRow(uint32_t* dst, const uint32_t* a, const uint32_t* b, int w);

// One channel's trace as a span of rows per pixel column: column x is lit from row top[x] to
// row bottom[x] inclusive, in `color` (opaque).
struct SpanRef {
    const int* top;
    const int* bottom;
    uint32_t color;
};

// Row y of a picture w pixels wide: src[x] where no span covers (x, y); where spans cover it,
// the colour of the last of them, or with `overGrid` the brighter of that colour and src[x].
// Row by row rather than column by column, so that every write is sequential. dst may be src.
void FillRow(uint32_t* dst, const uint32_t* src, int y, int w, const SpanRef* spans, int count,
             bool overGrid);

// Every row of `dst` as FillRow makes it from the same row of `under` (same size as dst);
// rows no span reaches are copied from `under` as they are.
void FillSpans(const Surface& dst, const ConstSurface& under, const SpanRef* spans, int count,
               bool overGrid);

// dst = Brighter(a, b) row by row; all three the same size (dst may be a or b).
void CombineBrighter(const Surface& dst, const ConstSurface& a, const ConstSurface& b);

// Copies `src` into `dst` (same size).
void CopySurface(const Surface& dst, const ConstSurface& src);

// Scales each colour component of the row's pixels by factor / 65536 (rounded down), as one
// step of the persistence layer's fading; black stays black. factor 0..65535.
void FadeRow(uint32_t* row, int w, int factor);
// The whole surface, or fills it with opaque black when factor is 0.
void Fade(const Surface& s, int factor);

// Sets pixel (x, y) to c; a point outside the surface is ignored.
void Put(const Surface& s, int x, int y, uint32_t c);

// Fills the surface with `background` and draws the graticule: divX x divY divisions with
// dotted lines (every other pixel) in `dim`, and a solid centre cross in `centre` with a tick
// every fifth of a division that reaches `tick` pixels to either side of the cross.
void DrawGraticule(const Surface& s, int divX, int divY, uint32_t background, uint32_t dim,
                   uint32_t centre, int tick = 2);

// Blends the premultiplied pixels of `src` (no component above the alpha) over `dst` with the
// top left corner of src at (x, y) of dst; the parts of src outside dst are left out. Each
// component becomes source + destination x (255 - alpha) / 255, rounded; the result is opaque.
void BlendOver(const Surface& dst, int x, int y, const ConstSurface& src);

// Blends the premultiplied colour `over` (0xAARRGGBB) over the w x h rectangle of `dst` at
// (x, y): what a text's backing does to the picture under it. Clipped to dst.
void FillOver(const Surface& dst, int x, int y, int w, int h, uint32_t over);

// Draws `colour` (0xRRGGBB) through a coverage mask (one byte per pixel, 0 none, 255 full;
// rows `maskStride` bytes apart) of w x h pixels with its top left corner at (x, y): a glyph.
// Each pixel becomes (colour x a + pixel x (255 - a)) / 255, rounded. Clipped to dst.
void BlendCoverage(const Surface& dst, int x, int y, const uint8_t* mask, int w, int h,
                   std::ptrdiff_t maskStride, uint32_t colour);

}  // namespace rv8::kurvo
