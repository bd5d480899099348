// The chart's traces: what a plot copies, where and in which colours it is drawn, persistence.
#include "display/Kurvo.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/display/KurvoTestSupport.h"

namespace rv8 {
namespace {

using namespace charttest;

TEST(Kurvo, PlotBufferCopiesOnlyTheChannelValues) {
    struct Case {
        int16_t valuesPerFrame;
        int16_t frames;
    };
    for (const Case& c : std::vector<Case>{{2, 1}, {2, 300}, {2, 512}, {2, 16384}, {3, 700}}) {
        SCOPED_TRACE(testing::Message() << c.valuesPerFrame << " x " << c.frames);
        // Exactly the values PlotBuffer may read, on the heap so that AddressSanitizer flags any
        // read past them; for 3 values per frame the last frame's third value is not included.
        const std::size_t readable = static_cast<std::size_t>(c.frames - 1) * c.valuesPerFrame + 2;
        auto data = std::make_unique<int16_t[]>(readable);
        std::vector<int16_t> expected;
        for (std::size_t i = 0; i < readable; ++i)
            data[i] = static_cast<int16_t>(i * 7 - 9000);
        for (int f = 0; f < c.frames; ++f) {
            expected.push_back(data[f * c.valuesPerFrame]);
            expected.push_back(data[f * c.valuesPerFrame + 1]);
        }
        auto k = MakeChart();
        k->PlotBuffer(data[0], c.valuesPerFrame, c.frames);
        data.reset();  // the caller frees the block right after; the chart must not need it
        EXPECT_EQ(k->lastPlotKind(), Kurvo::PlotKind::Buffer);
        EXPECT_EQ(k->plotCount(), 1);
        EXPECT_EQ(k->lastPlotValues(), expected);
        k->YMax(0, 1000);  // redraws from the copy
        EXPECT_FALSE(k->picture().isNull());
    }
}

TEST(Kurvo, PlotBufferIgnoresBadShapes) {
    struct Case {
        int16_t valuesPerFrame;
        int16_t frames;
    };
    for (const Case& c : std::vector<Case>{{1, 10}, {0, 10}, {-2, 10}, {2, 0}, {2, -5}}) {
        auto k = MakeChart();
        const int16_t one = 5;
        const QImage before = k->picture();
        k->PlotBuffer(one, c.valuesPerFrame, c.frames);
        EXPECT_EQ(k->plotCount(), 0);
        EXPECT_EQ(k->lastPlotKind(), Kurvo::PlotKind::None);
        EXPECT_EQ(k->picture(), before);
    }
}

TEST(Kurvo, SingleSampleSpikeStaysVisible) {
    struct Case {
        int16_t spike;
        int rowLo, rowHi;  // rows where the spike must show
    };
    for (const Case& c : std::vector<Case>{{32767, 0, 1}, {-32768, kH - 2, kH - 1}}) {
        std::vector<int16_t> v = Frames(16384, 0, 0);
        const int frame = 9999;
        v[2 * frame] = c.spike;
        auto k = MakeChart();
        k->PlotBuffer(v[0], 2, 16384);
        const QImage img = k->picture();
        const int col = frame * kW / 16384;
        EXPECT_GT(CountColour(img, k->drawColor(0), QRect(col, c.rowLo, 1, c.rowHi - c.rowLo + 1)),
                  0)
            << "spike " << c.spike;
        // The spike is drawn as one column, not smeared over its neighbours.
        EXPECT_EQ(CountColour(img, k->drawColor(0), QRect(col + 3, 0, 1, 20)), 0);
    }
}

TEST(Kurvo, ChannelSelectionDecidesTheColours) {
    struct Case {
        bool both;
        int16_t shown;
        bool ch1, ch2;
    };
    const std::vector<Case> cases = {{false, 0, true, false},
                                     {false, 1, false, true},
                                     {true, 0, true, true},
                                     {true, 1, true, true}};
    for (int frames : {300, 4096}) {  // fewer and more frames than columns
        const std::vector<int16_t> v = Frames(frames, 16000, -16000);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << frames << " frames, both " << c.both << " shown " << c.shown);
            auto k = MakeChart();
            k->BothChannels(c.both);
            k->ShownChannel(c.shown);
            k->PlotBuffer(v[0], 2, static_cast<int16_t>(frames));
            const QImage img = k->picture();
            EXPECT_EQ(img.size(), QSize(kW, kH));
            EXPECT_EQ(CountColour(img, k->drawColor(0)) > 200, c.ch1);
            EXPECT_EQ(CountColour(img, k->drawColor(1)) > 200, c.ch2);
            // Settings changed after the plot redraw the same data at once.
            k->BothChannels(true);
            EXPECT_GT(CountColour(k->picture(), k->drawColor(1)), 200);
        }
    }
}

TEST(Kurvo, TracesAreDrawnAtTheirLevelAndBrightEnough) {
    auto k = MakeChart();
    k->BothChannels(true);
    EXPECT_EQ(k->traceColor(0), QColor(0, 0, 255));
    EXPECT_EQ(k->traceColor(1), QColor(192, 0, 0));
    for (int c = 0; c < 2; ++c)
        EXPECT_GT(k->drawColor(c).lightness(), k->traceColor(c).lightness());
    // Channel 1 at three quarters of its range, channel 2 at the bottom of a narrowed range.
    k->YMin(1, -100);
    k->YMax(1, 100);
    const std::vector<int16_t> v = Frames(512, 16383, -30000);
    k->PlotBuffer(v[0], 2, 512);
    const QImage img = k->picture();
    EXPECT_GT(CountColour(img, k->drawColor(0), QRect(0, 99, kW, 3)), kW - 20);
    EXPECT_GT(CountColour(img, k->drawColor(1), QRect(0, kH - 1, kW, 1)), kW - 20);
}

TEST(Kurvo, PlotArrayStretchesAcrossTheWidth) {
    std::vector<int16_t> spectrum(2 * 513, 0);
    for (int i = 0; i < 513; ++i) {
        spectrum[2 * i] = static_cast<int16_t>(i * 60);
        spectrum[2 * i + 1] = 1000;
    }
    auto k = MakeChart();
    k->BothChannels(true);
    k->YMin(0, 0);
    k->YMax(0, 32768);
    k->YMin(1, 0);
    k->YMax(1, 32768);
    k->PlotArray(spectrum);
    EXPECT_EQ(k->lastPlotKind(), Kurvo::PlotKind::Array);
    EXPECT_EQ(k->lastPlotValues(), spectrum);
    const QImage img = k->picture();
    EXPECT_GT(CountColour(img, k->drawColor(0), QRect(0, kH - 3, 2, 3)), 0);   // first column
    EXPECT_GT(CountColour(img, k->drawColor(0), QRect(kW - 1, 0, 1, 80)), 0);  // last column
    // An odd-sized or empty array neither crashes nor reads beyond it.
    k->PlotArray(std::vector<int16_t>{1, 2, 3});
    k->PlotArray({});
    EXPECT_EQ(k->plotCount(), 3);
}

TEST(Kurvo, PersistenceKeepsEarlierTracesFading) {
    struct Case {
        int16_t mode, depth;
        bool kept;
    };
    for (const Case& c :
         std::vector<Case>{{0, 32, false}, {1, 0, false}, {1, 32, true}, {1, 5, true}}) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " depth " << c.depth);
        auto k = MakeChart();
        k->PersistenceMode(c.mode);
        k->PersistenceDepth(c.depth);
        const std::vector<int16_t> first = Frames(512, 16383, 0);    // row 100
        const std::vector<int16_t> second = Frames(512, -16384, 0);  // row 300
        k->PlotBuffer(first[0], 2, 512);
        k->PlotBuffer(second[0], 2, 512);
        const QImage img = k->picture();
        const QRgb old = img.pixel(37, 100);
        EXPECT_EQ(qBlue(old) > 40, c.kept) << std::hex << old;
        // The earlier trace is dimmer than the new one.
        EXPECT_LT(qBlue(old), qBlue(k->drawColor(0).rgb()) + (c.kept ? 0 : 1));
        EXPECT_EQ(QColor(img.pixel(37, 300)), k->drawColor(0));
    }
}

TEST(Kurvo, OutOfRangeChannelsAreIgnored) {
    auto k = MakeChart();
    for (int16_t bad : {int16_t{-1}, int16_t{2}, int16_t{32767}}) {
        k->YMax(bad, 5);
        k->YMin(bad, 5);
        k->TraceColor(bad, 0x00FFFFFF);
        k->ShownChannel(bad);
        EXPECT_EQ(k->YMax(bad), 0);
        EXPECT_EQ(k->YMin(bad), 0);
    }
    EXPECT_EQ(k->shownChannel(), 0);
    EXPECT_EQ(k->YMax(0), 32767);
    EXPECT_EQ(k->YMin(1), -32768);
    EXPECT_EQ(k->traceColor(0), QColor(0, 0, 255));
}

}  // namespace
}  // namespace rv8
