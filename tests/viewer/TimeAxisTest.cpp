// The time view's window on a record: limits, moves and zooms, table-driven.
#include <gtest/gtest.h>

#include <functional>

#include "viewer/TimeAxis.h"

namespace rv8::viewer {
namespace {

TEST(TimeAxisTest, TheWindowStaysInsideTheRecord) {
    struct Case {
        const char* name;
        std::function<void(TimeAxis&)> act;
        int64_t frames;
        TimeWindow expected;
    };
    const Case cases[] = {
        {"fitted: the whole record", [](TimeAxis&) {}, 130000, {0, 130000}},
        {"no frames", [](TimeAxis&) {}, 0, {0, 0}},
        {"a window", [](TimeAxis& a) { a.show(1000, 500, 130000); }, 130000, {1000, 500}},
        {"past the end: moved back",
         [](TimeAxis& a) { a.show(129800, 500, 130000); },
         130000,
         {129500, 500}},
        {"before the start", [](TimeAxis& a) { a.show(-40, 500, 130000); }, 130000, {0, 500}},
        {"a shorter record keeps the width",
         [](TimeAxis& a) { a.show(3000, 500, 130000); },
         2000,
         {1500, 500}},
        {"a record narrower than the window",
         [](TimeAxis& a) { a.show(3000, 500, 130000); },
         300,
         {0, 300}},
        {"no fewer than kMinFrames",
         [](TimeAxis& a) { a.show(10, 2, 1000); },
         1000,
         {10, TimeAxis::kMinFrames}},
        {"a record of fewer frames than that", [](TimeAxis&) {}, 5, {0, 5}},
        {"as wide as the record: fitted",
         [](TimeAxis& a) { a.show(0, 2000, 2000); },
         9000,
         {0, 9000}},
        {"a pan within",
         [](TimeAxis& a) { a.show(100, 50, 1000), a.pan(30, 1000); },
         1000,
         {130, 50}},
        {"a pan against the end",
         [](TimeAxis& a) { a.show(900, 50, 1000), a.pan(500, 1000); },
         1000,
         {950, 50}},
        // Zoom about column 0 of 100 columns: frame 0 stays at column 0.
        {"zoom in at the left edge", [](TimeAxis& a) { a.zoom(4, 0, 100, 1000); }, 1000, {0, 250}},
        // About the middle column of a fitted record: the middle frame stays.
        {"zoom in at the middle", [](TimeAxis& a) { a.zoom(4, 50, 100, 1000); }, 1000, {375, 250}},
        {"zoom out to more than the record: fitted",
         [](TimeAxis& a) { a.show(100, 100, 1000), a.zoom(0.01, 50, 100, 1000); },
         1000,
         {0, 1000}},
    };
    for (const Case& c : cases) {
        TimeAxis axis;
        c.act(axis);
        EXPECT_EQ(axis.window(c.frames), c.expected) << c.name;
    }
}

TEST(TimeAxisTest, ZoomingInAndOutAboutOnePlaceComesBack) {
    TimeAxis axis;
    for (int i = 0; i < 30; ++i)
        axis.zoom(1.25, 613, 800, 130000);
    for (int i = 0; i < 30; ++i)
        axis.zoom(1 / 1.25, 613, 800, 130000);
    EXPECT_TRUE(axis.fitted());
    for (int i = 0; i < 30; ++i)
        axis.zoom(1.25, 613, 800, 130000);
    const TimeWindow in = axis.window(130000);
    // The frame under column 613 of 800 is the one it was over the whole record, to a frame.
    EXPECT_NEAR(in.start + 613.0 * (in.count - 1) / 799, 613.0 * 130000 / 800, 1.0);
}

}  // namespace
}  // namespace rv8::viewer
