#include "display/KurvoMath.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace rv8::kurvo {
namespace {

constexpr int32_t kI32Min = std::numeric_limits<int32_t>::min();
constexpr int32_t kI32Max = std::numeric_limits<int32_t>::max();

TEST(KurvoMath, ValueToRow) {
    struct Case {
        int32_t value, ymin, ymax;
        int height;
        int row;
    };
    const std::vector<Case> cases = {
        {32767, -32768, 32767, 401, 0},      // top of the range: top row
        {-32768, -32768, 32767, 401, 400},   // bottom of the range: bottom row
        {0, -32768, 32767, 401, 200},        // mid-scale: centre row
        {-1, -32768, 32767, 401, 200},       // just below mid-scale still rounds to the centre
        {16383, -32768, 32767, 401, 100},    // three quarters up
        {100000, -32768, 32767, 401, 0},     // above the range: clipped to the top
        {-100000, -32768, 32767, 401, 400},  // below: clipped to the bottom
        {16384, 0, 32768, 401, 200},         // spectrum range
        {-5, 0, 32768, 401, 400},
        {kI32Max, kI32Min, kI32Max, 401, 0},  // widest range, no overflow
        {kI32Min, kI32Min, kI32Max, 401, 400},
        {0, kI32Min, kI32Max, 401, 200},
        {7, 7, 7, 401, 200},  // YMin == YMax: no scale, centre row
        {8, 7, 7, 401, 0},
        {6, 7, 7, 401, 400},
        {0, 100, -100, 401, 200},  // YMin > YMax: degenerate, about the middle
        {50, 100, -100, 401, 0},
        {-50, 100, -100, 401, 400},
        {123, -32768, 32767, 1, 0},  // a one-row screen
        {123, -32768, 32767, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ValueToRow(c.value, c.ymin, c.ymax, c.height), c.row)
            << c.value << " in " << c.ymin << ".." << c.ymax << " on " << c.height;
    }
}

TEST(KurvoMath, ColumnFramesCoverEveryFrameOnce) {
    struct Case {
        int frames, columns;
    };
    for (const Case& c : std::vector<Case>{
             {16384, 512}, {512, 512}, {1000, 512}, {513, 512}, {100, 512}, {1, 512}, {7, 3}}) {
        SCOPED_TRACE(testing::Message() << c.frames << " frames, " << c.columns << " columns");
        EXPECT_EQ(ColumnFrames(0, c.frames, c.columns).first, 0);
        EXPECT_EQ(ColumnFrames(c.columns - 1, c.frames, c.columns).last, c.frames - 1);
        int expectedNext = 0;
        for (int col = 0; col < c.columns; ++col) {
            const FrameRange r = ColumnFrames(col, c.frames, c.columns);
            ASSERT_LE(r.first, r.last);
            ASSERT_GE(r.first, 0);
            ASSERT_LT(r.last, c.frames);
            if (c.frames >= c.columns) {
                ASSERT_EQ(r.first, expectedNext) << "column " << col;  // no gap, no overlap
                expectedNext = r.last + 1;
            } else {
                ASSERT_EQ(r.first, r.last);  // one frame per column
            }
        }
    }
}

TEST(KurvoMath, ReduceMinMax) {
    // Interleaved pairs; channel 2 (offset 1) is the negated channel 1.
    std::vector<int16_t> v;
    for (int i = 0; i < 8; ++i) {
        v.push_back(static_cast<int16_t>(i * 10));
        v.push_back(static_cast<int16_t>(-i * 10));
    }
    struct Case {
        int offset, frames, columns;
        std::vector<MinMax> expected;
    };
    const std::vector<Case> cases = {
        {0, 8, 4, {{0, 10}, {20, 30}, {40, 50}, {60, 70}}},
        {1, 8, 4, {{-10, 0}, {-30, -20}, {-50, -40}, {-70, -60}}},
        {0, 8, 3, {{0, 10}, {20, 40}, {50, 70}}},
        {0, 8, 1, {{0, 70}}},
        {0, 3, 6, {{0, 0}, {0, 0}, {10, 10}, {10, 10}, {20, 20}, {20, 20}}},
        {0, 1, 2, {{0, 0}, {0, 0}}},
    };
    for (const Case& c : cases) {
        const std::vector<MinMax> got = ReduceMinMax(v.data() + c.offset, 2, c.frames, c.columns);
        ASSERT_EQ(got.size(), c.expected.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].min, c.expected[i].min) << "column " << i;
            EXPECT_EQ(got[i].max, c.expected[i].max) << "column " << i;
        }
    }
    EXPECT_TRUE(ReduceMinMax(v.data(), 2, 0, 4).empty());
    EXPECT_TRUE(ReduceMinMax(v.data(), 2, -3, 4).empty());
    EXPECT_TRUE(ReduceMinMax(v.data(), 2, 8, 0).empty());
    EXPECT_TRUE(ReduceMinMax(nullptr, 2, 8, 4).empty());
}

TEST(KurvoMath, ReduceKeepsASingleSpike) {
    std::vector<int16_t> v(16384, 0);
    v[12345] = 32767;
    v[12346] = -32768;
    const std::vector<MinMax> cols = ReduceMinMax(v.data(), 1, 16384, 512);
    const int col = 12345 * 512 / 16384;
    EXPECT_EQ(cols[col].max, 32767);
    EXPECT_EQ(cols[col].min, -32768);
    EXPECT_EQ(cols[col - 1].max, 0);
}

TEST(KurvoMath, ColumnSpansJoinNeighbours) {
    // Range 0..100 on 101 rows: row = 100 - value.
    const std::vector<MinMax> cols = {{50, 50}, {10, 20}, {10, 20}, {90, 95}, {0, 100}};
    const std::vector<RowSpan> spans = ColumnSpans(cols, 0, 100, 101);
    ASSERT_EQ(spans.size(), 5u);
    const std::vector<RowSpan> expected = {{50, 50}, {50, 90}, {80, 90}, {5, 80}, {0, 100}};
    for (std::size_t i = 0; i < spans.size(); ++i) {
        EXPECT_EQ(spans[i].top, expected[i].top) << i;
        EXPECT_EQ(spans[i].bottom, expected[i].bottom) << i;
    }
    EXPECT_TRUE(ColumnSpans({}, 0, 100, 101).empty());
}

TEST(KurvoMath, ZoomRange) {
    struct Case {
        Range in;
        int steps;
        Range out;
    };
    const std::vector<Case> cases = {
        {{-32768, 32767}, 1, {-16384, 16383}},   // zoom in about the centre
        {{-16384, 16383}, -1, {-32768, 32767}},  // and back out
        {{-32768, 32767}, 2, {-8192, 8191}},
        {{0, 32768}, 1, {8192, 24575}},              // spectrum range, odd count of values
        {{-8, 7}, 1, {-8, 7}},                       // already at the narrowest range
        {{0, 4}, 1, {0, 4}},                         // narrower than that: zoom in leaves it alone
        {{-12, 11}, 1, {-8, 7}},                     // stops at 16 values
        {{-524288, 524287}, -1, {-524288, 524287}},  // widest the wheel goes
        {{kI32Min, kI32Max}, -1, {kI32Min, kI32Max}},  // wider already: left alone
        {{kI32Min, kI32Max}, 1, {-1073741824, 1073741823}},
        {{kI32Max - 20, kI32Max}, -1, {kI32Max - 41, kI32Max}},  // shifted to stay in int32
        {{kI32Min, kI32Min + 20}, -3, {kI32Min, kI32Min + 167}},
        {{5, 5}, 0, {-3, 12}},             // degenerate: 16 values about it
        {{100, -100}, 0, {-8, 7}},         // inverted: 16 values about the middle
        {{-32768, 32767}, 1000, {-8, 7}},  // huge step counts stay bounded
        {{-32768, 32767}, -1000, {-524288, 524287}},
    };
    for (const Case& c : cases) {
        const Range got = ZoomRange(c.in, c.steps);
        EXPECT_EQ(got.min, c.out.min) << c.in.min << ".." << c.in.max << " steps " << c.steps;
        EXPECT_EQ(got.max, c.out.max) << c.in.min << ".." << c.in.max << " steps " << c.steps;
    }
}

TEST(KurvoMath, PanRange) {
    struct Case {
        Range in;
        int dy, height;
        Range out;
    };
    const std::vector<Case> cases = {
        {{-100, 100}, 0, 401, {-100, 100}},
        {{-100, 100}, 400, 401, {100, 300}},  // full height down: up by the span
        {{-100, 100}, -200, 401, {-200, 0}},  // half height up: down by half the span
        {{kI32Max - 100, kI32Max}, 400, 401, {kI32Max - 100, kI32Max}},  // stays in int32
        {{kI32Min, kI32Min + 100}, -400, 401, {kI32Min, kI32Min + 100}},
        {{kI32Min, kI32Max}, 30000, 401, {kI32Min, kI32Max}},
        {{5, 5}, 100, 401, {5, 5}},  // no span: nothing to move by
        {{-100, 100}, 10, 1, {-100, 100}},
    };
    for (const Case& c : cases) {
        const Range got = PanRange(c.in, c.dy, c.height);
        EXPECT_EQ(got.min, c.out.min) << c.in.min << ".." << c.in.max << " dy " << c.dy;
        EXPECT_EQ(got.max, c.out.max) << c.in.min << ".." << c.in.max << " dy " << c.dy;
    }
}

TEST(KurvoMath, Colours) {
    EXPECT_EQ(BgrToRgb(0x00FF0000), 0x0000FFu);  // blue
    EXPECT_EQ(BgrToRgb(0x000000C0), 0xC00000u);  // dark red
    EXPECT_EQ(BgrToRgb(0x00123456), 0x563412u);
    EXPECT_EQ(BgrToRgb(-1), 0xFFFFFFu);  // high byte ignored

    for (uint32_t rgb : {0x0000FFu, 0xC00000u, 0x000000u, 0x000080u, 0x00FF00u, 0xFFFF00u}) {
        const uint32_t shown = VisibleColor(rgb);
        EXPECT_GE(Luminance(shown), 109.0) << std::hex << rgb;
        if (Luminance(rgb) >= 110.0) {
            EXPECT_EQ(shown, rgb) << std::hex << rgb;
        }
    }
    // Lightening keeps the hue: blue stays bluest, red stays reddest.
    EXPECT_GT(VisibleColor(0x0000FFu) & 0xFFu, (VisibleColor(0x0000FFu) >> 16) & 0xFFu);
    EXPECT_GT((VisibleColor(0xC00000u) >> 16) & 0xFFu, VisibleColor(0xC00000u) & 0xFFu);
}

TEST(KurvoMath, FadeFactor) {
    EXPECT_EQ(FadeFactor(0), 0);
    EXPECT_EQ(FadeFactor(-4), 0);
    EXPECT_EQ(FadeFactor(1), 32768);
    EXPECT_EQ(FadeFactor(32), 63550);
    EXPECT_EQ(FadeFactor(99), 63550);
    for (int d = 1; d <= 32; ++d)
        EXPECT_GT(FadeFactor(d), FadeFactor(d - 1)) << d;
}

}  // namespace
}  // namespace rv8::kurvo
