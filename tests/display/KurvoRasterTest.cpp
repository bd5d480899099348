#include "display/KurvoRaster.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace rv8::kurvo {
namespace {

// A w x h pixel buffer with a row padding of `pad` pixels, filled with `fill`.
struct Buffer {
    int w, h, pad;
    std::vector<uint32_t> px;
    Buffer(int width, int height, uint32_t fill, int padding = 3)
        : w(width), h(height), pad(padding), px(static_cast<std::size_t>((w + pad) * h), fill) {}
    Surface surface() {
        return Surface{px.data(), w, h, static_cast<std::ptrdiff_t>((w + pad) * 4)};
    }
    uint32_t at(int x, int y) const { return px[static_cast<std::size_t>(y * (w + pad) + x)]; }
};

// Widths that exercise the four-pixel loops, their tails and both together.
const int kWidths[] = {1, 3, 4, 5, 8, 9, 13, 512};

TEST(KurvoRaster, BrighterTakesTheLargerOfEachComponent) {
    struct Case {
        uint32_t a, b, out;
    };
    const std::vector<Case> cases = {
        {0xFF000000u, 0xFF000000u, 0xFF000000u}, {0xFF102030u, 0xFF302010u, 0xFF302030u},
        {0xFFFF0000u, 0xFF00FF00u, 0xFFFFFF00u}, {0xFF383838u, 0xFF6D6DFFu, 0xFF6D6DFFu},
        {0x00123456u, 0x00000000u, 0xFF123456u},  // the result is opaque
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Brighter(c.a, c.b), c.out) << std::hex << c.a << " " << c.b;
        for (int w : kWidths) {
            std::vector<uint32_t> a(w, c.a | 0xFF000000u), b(w, c.b | 0xFF000000u), d(w, 0);
            BrighterRow(d.data(), a.data(), b.data(), w);
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(d[x], c.out) << "width " << w << " x " << x;
            BrighterRow(a.data(), a.data(), b.data(), w);  // in place
            EXPECT_EQ(a, d);
        }
    }
}

TEST(KurvoRaster, FillRowLightsExactlyTheSpannedRows) {
    constexpr uint32_t kUnder = 0xFF383838u;
    constexpr uint32_t kBlue = 0xFF6D6DFFu;
    constexpr uint32_t kRed = 0xFFFF4040u;
    struct Case {
        const char* name;
        int top1, bottom1, top2, bottom2;  // a second span of -1..-1 is left out
        bool overGrid;
        int y;
        uint32_t expected;  // in every column
    };
    const std::vector<Case> cases = {
        {"AboveTheSpan", 10, 20, -1, -1, false, 9, kUnder},
        {"TopRowIsLit", 10, 20, -1, -1, false, 10, kBlue},
        {"BottomRowIsLit", 10, 20, -1, -1, false, 20, kBlue},
        {"BelowTheSpan", 10, 20, -1, -1, false, 21, kUnder},
        {"OneRowSpan", 7, 7, -1, -1, false, 7, kBlue},
        {"OverGridTakesTheBrighter", 0, 5, -1, -1, true, 3, Brighter(kBlue, kUnder)},
        {"LaterSpanWins", 0, 9, 5, 9, false, 6, kRed},
        {"EarlierSpanWhereOnlyItReaches", 0, 9, 5, 9, false, 2, kBlue},
        {"LaterSpanOverGrid", 0, 9, 5, 9, true, 6, Brighter(kRed, kUnder)},
    };
    for (const Case& c : cases) {
        for (int w : kWidths) {
            SCOPED_TRACE(std::string(c.name) + " width " + std::to_string(w));
            std::vector<int> t1(w, c.top1), b1(w, c.bottom1), t2(w, c.top2), b2(w, c.bottom2);
            const SpanRef spans[2] = {{t1.data(), b1.data(), kBlue}, {t2.data(), b2.data(), kRed}};
            const int count = c.top2 < 0 ? 1 : 2;
            std::vector<uint32_t> under(w, kUnder), out(w, 0);
            FillRow(out.data(), under.data(), c.y, w, spans, count, c.overGrid);
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(out[x], c.expected) << "x " << x;
        }
    }
}

TEST(KurvoRaster, FillRowFollowsEachColumnsOwnSpan) {
    // A staircase: column x is lit at rows x..x+1 only, over 13 columns (SIMD and tail alike).
    const int w = 13;
    std::vector<int> top(w), bottom(w);
    for (int x = 0; x < w; ++x) {
        top[x] = x;
        bottom[x] = x + 1;
    }
    const SpanRef span{top.data(), bottom.data(), 0xFFFFFFFFu};
    std::vector<uint32_t> under(w, 0xFF000000u), out(w);
    for (int y = 0; y <= w + 1; ++y) {
        FillRow(out.data(), under.data(), y, w, &span, 1, false);
        for (int x = 0; x < w; ++x)
            EXPECT_EQ(out[x] == 0xFFFFFFFFu, y == x || y == x + 1) << "x " << x << " y " << y;
    }
}

TEST(KurvoRaster, FillSpansCopiesTheRowsNoSpanReaches) {
    struct Case {
        int w, h, top, bottom;
    };
    for (const Case& c : std::vector<Case>{{9, 6, 2, 3}, {512, 401, 100, 300}, {4, 3, 0, 2}}) {
        Buffer under(c.w, c.h, 0);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x)
                under.surface().row(y)[x] = 0xFF000000u | static_cast<uint32_t>(y * 1000 + x);
        Buffer dst(c.w, c.h, 0xDEADBEEFu);
        std::vector<int> top(c.w, c.top), bottom(c.w, c.bottom);
        const SpanRef span{top.data(), bottom.data(), 0xFFFFFFFFu};
        FillSpans(dst.surface(), under.surface(), &span, 1, false);
        for (int y = 0; y < c.h; ++y) {
            for (int x = 0; x < c.w; ++x) {
                const bool lit = y >= c.top && y <= c.bottom;
                ASSERT_EQ(dst.at(x, y), lit ? 0xFFFFFFFFu : under.at(x, y))
                    << c.w << "x" << c.h << " at " << x << "," << y;
            }
        }
        // Row padding is never written.
        EXPECT_EQ(dst.px[c.w], 0xDEADBEEFu);
    }
}

TEST(KurvoRaster, CombineAndCopyCoverTheWholeSurface) {
    Buffer a(7, 5, 0xFF102030u), b(7, 5, 0xFF301020u), dst(7, 5, 0);
    CombineBrighter(dst.surface(), a.surface(), b.surface());
    Buffer copy(7, 5, 0);
    CopySurface(copy.surface(), dst.surface());
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
            EXPECT_EQ(dst.at(x, y), 0xFF302030u);
            EXPECT_EQ(copy.at(x, y), 0xFF302030u);
        }
    }
}

TEST(KurvoRaster, FadeScalesEveryComponent) {
    struct Case {
        uint32_t in;
        int factor;
        uint32_t out;
    };
    const std::vector<Case> cases = {
        {0xFFFFFFFFu, 32768, 0xFF7F7F7Fu},  // half, rounded down
        {0xFF6D6DFFu, 65535, 0xFF6C6CFEu},  // just below 1 still loses a step
        {0xFF010101u, 65535, 0xFF000000u},  // the dimmest light goes out
        {0xFF000000u, 40000, 0xFF000000u},  // black stays black
        {0xFF804020u, 16384, 0xFF201008u},
    };
    for (const Case& c : cases) {
        for (int w : kWidths) {
            std::vector<uint32_t> row(w, c.in);
            FadeRow(row.data(), w, c.factor);
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(row[x], c.out) << std::hex << c.in << " x " << std::dec << c.factor;
        }
    }
    // Factor 0 clears the surface to opaque black at once.
    Buffer b(5, 4, 0xFFFFFFFFu);
    Fade(b.surface(), 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(b.at(x, y), 0xFF000000u);
}

TEST(KurvoRaster, PutIgnoresPointsOutside) {
    Buffer b(4, 3, 0);
    for (int x : {-1, 0, 3, 4})
        for (int y : {-1, 0, 2, 3})
            Put(b.surface(), x, y, 0xFF00FF00u);
    int lit = 0;
    for (uint32_t p : b.px)
        lit += p == 0xFF00FF00u;
    EXPECT_EQ(lit, 4);  // the four corners
    EXPECT_EQ(b.at(3, 2), 0xFF00FF00u);
}

TEST(KurvoRaster, GraticuleLinesAndCross) {
    constexpr uint32_t kBg = 0xFF000000u, kDim = 0xFF383838u, kCentre = 0xFF6A6A6Au;
    struct Probe {
        int x, y;
        uint32_t colour;
    };
    struct Case {
        int w, h;
        std::vector<Probe> probes;
    };
    const std::vector<Case> cases = {
        {512,
         401,
         {{0, 0, kDim},        // corner: on both dotted edges
          {0, 1, kBg},         // dots every other pixel
          {51, 0, kDim},       // the second vertical line, 511 / 10
          {255, 7, kCentre},   // the centre column is solid
          {3, 200, kCentre},   // the centre row is solid
          {10, 202, kCentre},  // a tick on the centre row, 2 below
          {10, 203, kBg},      // ...and not 3
          {20, 50, kDim},      // a horizontal division line (400 / 8)
          {20, 51, kBg}}},
        {11, 9, {{5, 0, kCentre}, {0, 4, kCentre}, {1, 1, kBg}}},
        {1, 1, {{0, 0, kCentre}}},
    };
    for (const Case& c : cases) {
        Buffer b(c.w, c.h, 0x12345678u);
        DrawGraticule(b.surface(), 10, 8, kBg, kDim, kCentre);
        for (const Probe& p : c.probes)
            EXPECT_EQ(b.at(p.x, p.y), p.colour) << c.w << "x" << c.h << " at " << p.x << "," << p.y;
    }
    // A wider tick for a sharper screen.
    Buffer b(512, 401, 0);
    DrawGraticule(b.surface(), 10, 8, kBg, kDim, kCentre, 4);
    EXPECT_EQ(b.at(10, 204), kCentre);
    EXPECT_EQ(b.at(10, 205), kBg);
}

TEST(KurvoRaster, BlendOverMixesPremultipliedPixelsAndClips) {
    struct Case {
        const char* name;
        uint32_t src;
        uint32_t dst;
        uint32_t out;
    };
    const std::vector<Case> cases = {
        {"Opaque", 0xFFFFFFFFu, 0xFF0000FFu, 0xFFFFFFFFu},
        {"Transparent", 0x00000000u, 0xFF0000FFu, 0xFF0000FFu},
        {"HalfBlack", 0x80000000u, 0xFFFFFFFFu, 0xFF7F7F7Fu},
        {"HalfWhite", 0x80808080u, 0xFF000000u, 0xFF808080u},
    };
    for (const Case& c : cases) {
        Buffer src(2, 2, c.src), dst(3, 3, c.dst);
        BlendOver(dst.surface(), 1, 1, src.surface());
        EXPECT_EQ(dst.at(2, 2), c.out) << c.name;
        EXPECT_EQ(dst.at(0, 0), c.dst) << c.name;  // outside the source
    }
    // Every width, through the four-pixel loop and its tail: each pixel as the formula gives it,
    // whatever its neighbours (transparent ones among them).
    uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int w : kWidths) {
        Buffer src(w, 3, 0), dst(w + 2, 4, 0);
        for (uint32_t& p : src.px) {
            const uint32_t a = next() % 4 == 0 ? 0 : next() & 0xFFu;
            p = a << 24;
            for (int shift = 0; shift < 24; shift += 8)
                p |= (a == 0 ? 0 : next() % (a + 1)) << shift;  // premultiplied
        }
        for (uint32_t& p : dst.px)
            p = 0xFF000000u | next();
        const Buffer before = dst;
        BlendOver(dst.surface(), 1, 1, src.surface());
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < w; ++x) {
                const uint32_t s = src.at(x, y), d = before.at(x + 1, y + 1);
                const uint32_t a = s >> 24;
                uint32_t out = 0xFF000000u;
                for (int shift = 0; shift < 24; shift += 8)
                    out |=
                        (((s >> shift) & 0xFFu) + (((d >> shift) & 0xFFu) * (255 - a) + 127) / 255)
                        << shift;
                ASSERT_EQ(dst.at(x + 1, y + 1), a == 0 ? d : out)
                    << "width " << w << " at " << x << "," << y;
            }
        }
        EXPECT_EQ(dst.at(0, 1), before.at(0, 1));
        EXPECT_EQ(dst.at(w + 1, 1), before.at(w + 1, 1));
    }
    // Parts of the source beyond any edge are left out.
    for (int at : {-1, 2, -5, 7}) {
        Buffer src(3, 3, 0xFFFFFFFFu), dst(4, 4, 0xFF000000u);
        BlendOver(dst.surface(), at, at, src.surface());
        int lit = 0;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                lit += dst.at(x, y) == 0xFFFFFFFFu;
        const int side = std::max(0, std::min(4, at + 3) - std::max(0, at));
        EXPECT_EQ(lit, side * side) << at;
    }
}

// Component by component, (a x c + (255 - a) x d) / 255 rounded to nearest: what a text's
// backing and glyphs do to a pixel. The result is opaque.
uint32_t Mixed(uint32_t over, uint32_t a, uint32_t under) {
    uint32_t out = 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t c = (over >> shift) & 0xFFu, d = (under >> shift) & 0xFFu;
        out |= ((a * c + (255 - a) * d + 127) / 255) << shift;
    }
    return out;
}

// A pixel pattern with every component value somewhere in it.
uint32_t Pattern(int x, int y) {
    return 0xFF000000u | (static_cast<uint32_t>(x * 37 + y * 11) & 0xFFu) << 16 |
           (static_cast<uint32_t>(x * 5 + y * 101) & 0xFFu) << 8 |
           (static_cast<uint32_t>(x * 223 + y * 7) & 0xFFu);
}

TEST(KurvoRaster, FillOverDarkensTheBoxUnderABacking) {
    struct Case {
        const char* name;
        int x, y, w, h;
        uint32_t over;  // premultiplied
    };
    const std::vector<Case> cases = {
        {"Black205", 2, 1, 13, 4, 0xCD000000u},  // a text's backing
        {"Red240", 0, 0, 9, 3, 0xF0B21313u},     // a warning's
        {"Opaque", 3, 2, 5, 2, 0xFF102030u},
        {"ClippedLeftTop", -3, -2, 8, 5, 0xCD000000u},
        {"ClippedRightBottom", 10, 4, 20, 9, 0x80404040u},
        {"Outside", 40, 0, 5, 5, 0xCD000000u},
    };
    for (const Case& c : cases) {
        Buffer b(17, 6, 0);
        for (int y = 0; y < b.h; ++y)
            for (int x = 0; x < b.w; ++x)
                b.px[static_cast<std::size_t>(y * (b.w + b.pad) + x)] = Pattern(x, y);
        FillOver(b.surface(), c.x, c.y, c.w, c.h, c.over);
        const uint32_t alpha = c.over >> 24;
        for (int y = 0; y < b.h; ++y) {
            for (int x = 0; x < b.w; ++x) {
                const bool inside = x >= c.x && x < c.x + c.w && y >= c.y && y < c.y + c.h;
                // The premultiplied colour added to the pixel scaled by what shows through.
                uint32_t expected = Pattern(x, y);
                if (inside) {
                    expected = 0xFF000000u;
                    for (int shift = 0; shift < 24; shift += 8) {
                        const uint32_t d = (Pattern(x, y) >> shift) & 0xFFu;
                        expected |= (((c.over >> shift) & 0xFFu) + (d * (255 - alpha) + 127) / 255)
                                    << shift;
                    }
                }
                ASSERT_EQ(b.at(x, y), expected) << c.name << " at " << x << "," << y;
            }
        }
    }
}

TEST(KurvoRaster, BlendCoverageDrawsAGlyphThroughItsMask) {
    struct Case {
        const char* name;
        int x, y, w, h;
    };
    // Mask widths across the four-pixel loop and its tail; placed inside and across the edges.
    const std::vector<Case> cases = {
        {"Inside", 2, 1, 9, 4},           {"FourWide", 0, 0, 4, 3},      {"Narrow", 5, 2, 3, 3},
        {"ClippedLeftTop", -3, -1, 7, 4}, {"ClippedRight", 12, 2, 9, 4}, {"Beyond", 17, 0, 4, 4},
    };
    const uint32_t colour = 0x9AB4F7u;
    for (const Case& c : cases) {
        // Every coverage from 0 to 255 somewhere, whole runs of 0 and of 255 among them.
        std::vector<uint8_t> mask(static_cast<std::size_t>(c.w + 2) * c.h);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                const int k = y * c.w + x;
                mask[static_cast<std::size_t>(y * (c.w + 2) + x)] =
                    static_cast<uint8_t>(k % 7 == 0   ? 0
                                         : k % 5 == 0 ? 255
                                                      : (k * 53) & 0xFF);
            }
        Buffer b(17, 6, 0);
        for (int y = 0; y < b.h; ++y)
            for (int x = 0; x < b.w; ++x)
                b.px[static_cast<std::size_t>(y * (b.w + b.pad) + x)] = Pattern(x, y);
        BlendCoverage(b.surface(), c.x, c.y, mask.data(), c.w, c.h, c.w + 2, colour);
        for (int y = 0; y < b.h; ++y) {
            for (int x = 0; x < b.w; ++x) {
                const bool inside = x >= c.x && x < c.x + c.w && y >= c.y && y < c.y + c.h;
                const uint32_t a =
                    inside ? mask[static_cast<std::size_t>((y - c.y) * (c.w + 2) + (x - c.x))] : 0;
                ASSERT_EQ(b.at(x, y), Mixed(colour, a, Pattern(x, y)))
                    << c.name << " at " << x << "," << y << " coverage " << a;
            }
        }
    }
}

}  // namespace
}  // namespace rv8::kurvo
