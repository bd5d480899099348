#include "display/Kurvo.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace rv8 {
namespace {

constexpr int kW = 512;
constexpr int kH = 401;

std::unique_ptr<Kurvo> MakeChart() {
    auto k = std::make_unique<Kurvo>();
    k->resize(kW, kH);
    k->TraceColor(0, 0x00FF0000);  // blue
    k->TraceColor(1, 0x000000C0);  // dark red
    return k;
}

int CountColour(const QImage& img, const QColor& c, QRect area = QRect()) {
    if (area.isNull()) area = img.rect();
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if ((img.pixel(x, y) & 0xFFFFFFu) == (c.rgb() & 0xFFFFFFu)) ++n;
        }
    }
    return n;
}

// Interleaved frames: channel 1 at v1, channel 2 at v2.
std::vector<int16_t> Frames(int frames, int16_t v1, int16_t v2) {
    std::vector<int16_t> v;
    for (int i = 0; i < frames; ++i) {
        v.push_back(v1);
        v.push_back(v2);
    }
    return v;
}

// The row a value lands on in a picture `height` rows tall over the full range.
int ValueToRowFor(int32_t value, int height) {
    return kurvo::ValueToRow(value, -32768, 32767, height);
}

void SendWheel(QWidget* w, int delta) {
    const QPointF pos(w->width() / 2.0, w->height() / 2.0);
    QWheelEvent ev(pos, w->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &ev);
}

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

TEST(Kurvo, RangePutsRaiseNothingButTheWheelDoesOnce) {
    auto k = MakeChart();
    QSignalSpy spy(k.get(), &Kurvo::RangeChanged);
    k->YMax(0, 32767);
    k->YMin(0, -32768);
    k->YMax(1, 32767);
    k->YMin(1, -32768);
    EXPECT_EQ(spy.count(), 0);

    SendWheel(k.get(), 120);  // one notch in: channel 1 only (the one shown)
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 0);
    EXPECT_EQ(spy.at(0).at(1).toInt(), 0);
    EXPECT_EQ(k->YMin(0), -16384);
    EXPECT_EQ(k->YMax(0), 16383);
    EXPECT_EQ(k->YMin(1), -32768);
    EXPECT_EQ(k->YMax(1), 32767);

    k->BothChannels(true);
    SendWheel(k.get(), -120);  // one notch out, both channels: still one event
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(k->YMin(0), -32768);
    EXPECT_EQ(k->YMax(0), 32767);
    EXPECT_EQ(k->YMin(1), -65536);
    EXPECT_EQ(k->YMax(1), 65535);

    SendWheel(k.get(), 60);  // half a notch: nothing yet
    EXPECT_EQ(spy.count(), 2);
    SendWheel(k.get(), 60);  // completes the notch
    EXPECT_EQ(spy.count(), 3);

    // At the narrowest range another notch in changes nothing and raises nothing.
    k->YMin(0, -8);
    k->YMax(0, 7);
    k->YMin(1, -8);
    k->YMax(1, 7);
    SendWheel(k.get(), 120);
    EXPECT_EQ(spy.count(), 3);
    EXPECT_EQ(k->YMax(0), 7);
}

TEST(Kurvo, DragMovesTheRangeAndRaisesOnceAtRelease) {
    auto k = MakeChart();
    k->ShownChannel(1);
    k->YMin(1, -1000);
    k->YMax(1, 1000);
    QSignalSpy spy(k.get(), &Kurvo::RangeChanged);
    QTest::mousePress(k.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    QTest::mouseMove(k.get(), QPoint(100, 150));
    QTest::mouseMove(k.get(), QPoint(100, 200));
    EXPECT_EQ(spy.count(), 0);
    QTest::mouseRelease(k.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 300));
    EXPECT_EQ(spy.count(), 1);
    // 200 rows down of 400: up by half the span of 2000.
    EXPECT_EQ(k->YMin(1), 0);
    EXPECT_EQ(k->YMax(1), 2000);
    EXPECT_EQ(k->YMin(0), -32768);  // channel 1 is not shown and keeps its range

    // A click without movement changes nothing and raises nothing.
    QTest::mouseClick(k.get(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    EXPECT_EQ(spy.count(), 1);
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

TEST(Kurvo, CopyToClipboardPlacesThePicture) {
    auto k = MakeChart();
    const std::vector<int16_t> v = Frames(512, 1000, -1000);
    k->PlotBuffer(v[0], 2, 512);
    k->CopyToClipboard();
    const QImage clip = QGuiApplication::clipboard()->image();
    ASSERT_FALSE(clip.isNull());
    EXPECT_EQ(clip.size(), k->size());
    EXPECT_EQ(clip.convertToFormat(QImage::Format_RGB32), k->picture());
}

// What the screen shows of a chart inside a window: the same pixels as its picture, whether the
// whole chart is painted (composed straight into the window's backing store) or only a part of
// it (composed, then copied).
TEST(Kurvo, TheScreenShowsThePicture) {
    struct Case {
        const char* what;
        bool persistence;
        bool readouts;
        bool spectrum;
    };
    const Case cases[] = {
        {"traces, readouts", false, true, false},
        {"traces, no readouts", false, false, false},
        {"persistence", true, true, false},
        {"spectrum", false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QWidget top;
        top.resize(kW + 40, kH + 30);
        auto* k = new Kurvo(&top);
        k->setGeometry(13, 7, kW, kH);
        k->TraceColor(0, 0x00FF0000);
        k->TraceColor(1, 0x000000C0);
        k->Readouts(c.readouts);
        k->PersistenceMode(c.persistence ? 1 : 0);
        top.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&top));
        std::vector<int16_t> v;
        for (int i = 0; i < 4096; ++i) {
            v.push_back(static_cast<int16_t>(20000 * std::sin(i * 0.05)));
            v.push_back(static_cast<int16_t>(-9000 + (i % 97) * 150));
        }
        if (c.spectrum) {
            std::vector<int16_t> spectrum(2048);
            for (std::size_t i = 0; i < spectrum.size(); ++i)
                spectrum[i] = static_cast<int16_t>((i * 37) % 30000);
            k->PlotArray(spectrum);
        } else {
            k->PlotBuffer(v[0], 2, 4096);
        }
        const auto shown = [&] {
            return QGuiApplication::primaryScreen()
                ->grabWindow(top.winId(), 13, 7, kW, kH)
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        };
        top.repaint();
        EXPECT_EQ(shown(), k->picture()) << "whole chart painted";
        if (!c.spectrum) k->PlotBuffer(v[400], 2, 3000);
        k->repaint(QRect(0, 0, kW, kH));
        EXPECT_EQ(shown(), k->picture()) << "chart repainted";
        k->repaint(QRect(100, 50, 60, 40));  // a part: the earlier pixels stay around it
        EXPECT_EQ(shown(), k->picture()) << "part of the chart repainted";
    }
}

}  // namespace
}  // namespace rv8

namespace rv8 {
namespace {

// A chart on a screen of twice the pixels each way.
class SharpKurvo : public Kurvo {
  protected:
    int metric(PaintDeviceMetric m) const override {
        if (m == PdmDevicePixelRatio) return 2;
        if (m == PdmDevicePixelRatioScaled) return static_cast<int>(2 * devicePixelRatioFScale());
        return Kurvo::metric(m);
    }
};

// A chart with every readout setting of a 4 V channel 1 at 500000 samples/s.
void GiveSettings(Kurvo& k) {
    k.SampleFrequency(500000);
    k.Sensitivity(0, 4);
    k.Sensitivity(1, 0.8);
    k.RecordLength(4096);
    k.PostSamples(2048);
    k.WindowStart(2048);
    k.TriggerSource(0);
    k.TriggerLevel(0, 0.0);
}

TEST(KurvoReadoutLayer, HighDpiDrawsWithTwiceThePixelsNotEnlarged) {
    SharpKurvo k;
    k.resize(kW, kH);
    k.TraceColor(0, 0x00FF0000);
    const std::vector<int16_t> v = Frames(16384, 16383, 0);  // three quarters up
    k.PlotBuffer(v[0], 2, 16384);
    const QImage img = k.picture();
    EXPECT_EQ(img.size(), QSize(2 * kW, 2 * kH));
    EXPECT_EQ(img.devicePixelRatio(), 2.0);
    // The flat trace lies on one row of the sharper picture, not on two.
    const QRgb trace = k.drawColor(0).rgb() & 0xFFFFFFu;
    int rows = 0;
    for (int y = 0; y < img.height(); ++y)
        rows += (img.pixel(301, y) & 0xFFFFFFu) == trace;
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(img.pixel(301, ValueToRowFor(16383, 2 * kH)) & 0xFFFFFFu, trace);
}

TEST(KurvoReadoutLayer, TextsAreRenderedOnceWhileTheyStay) {
    auto k = MakeChart();
    GiveSettings(*k);
    const std::vector<int16_t> v = Frames(512, 1000, 0);
    k->PlotBuffer(v[0], 2, 512);
    k->picture();
    const int first = k->captionsRendered();
    EXPECT_GT(first, 5);  // scales, axis labels, record, markers
    for (int i = 0; i < 5; ++i) {
        k->PlotBuffer(v[0], 2, 512);
        k->picture();
    }
    EXPECT_EQ(k->captionsRendered(), first);
    k->HorizontalScale(2);  // a new time per division: one new text
    k->PlotBuffer(Frames(1024, 1000, 0)[0], 2, 1024);
    k->picture();
    EXPECT_GT(k->captionsRendered(), first);
}

TEST(KurvoReadoutLayer, TextIsBrightOnADarkBacking) {
    auto k = MakeChart();
    GiveSettings(*k);
    // A full-height noise trace under the caption at the foot.
    std::vector<int16_t> v;
    for (int i = 0; i < 16384; ++i) {
        v.push_back(static_cast<int16_t>(i % 2 ? 32767 : -32768));
        v.push_back(0);
    }
    k->PlotBuffer(v[0], 2, 16384);
    const QImage with = k->picture();
    k->Readouts(false);
    const QImage without = k->picture();
    // The "102.4 µs/div" caption's box at the lower left: no pure trace colour left in it,
    // and its text reaches near white.
    const QRect box(5, kH - 30, 60, 12);
    EXPECT_GT(CountColour(without, k->drawColor(0), box), 200);
    EXPECT_EQ(CountColour(with, k->drawColor(0), box), 0);
    int brightest = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            brightest = std::max(brightest, qGray(with.pixel(x, y)));
    EXPECT_GE(brightest, 220);
    EXPECT_EQ(k->readouts().perDivision, QString());  // off: none
}

TEST(KurvoReadoutLayer, ReadoutsOffDrawsThePictureWithoutThem) {
    auto with = MakeChart();
    auto plain = MakeChart();
    GiveSettings(*with);
    with->Readouts(false);
    const std::vector<int16_t> v = Frames(512, 1000, -1000);
    with->PlotBuffer(v[0], 2, 512);
    plain->Readouts(false);
    plain->PlotBuffer(v[0], 2, 512);
    EXPECT_EQ(with->picture(), plain->picture());
    with->Readouts(true);
    EXPECT_NE(with->picture(), plain->picture());
}

}  // namespace
}  // namespace rv8
